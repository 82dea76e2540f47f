// Performance counters: PerfCounter, one counter by its full path with a ring
// of its latest raw samples and PDH's statistics over them, and
// PerfCounterSet, one real-time query with the counters it owns. Every
// operation that calls the performance-data service returns the status of
// the call that failed, or 0; none throws.
//
// A set and its counters belong to one thread; there is no locking.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "agent/platform/pdh/perf_data.h"

namespace pelko {

inline constexpr uint32_t RawSampleCapacity = 3600;

enum class ValueKind : int { Last = 0, Minimum = 1, Maximum = 2, Mean = 3 };

// Handle values with all bits set: a counter in no query, a closed query.
inline PdhCounter NotAddedCounter() { return reinterpret_cast<PdhCounter>(~uintptr_t{0}); }
inline PdhQuery ClosedQuery() { return reinterpret_cast<PdhQuery>(~uintptr_t{0}); }

class PerfCounter {
 public:
  PerfCounter(PerfData* perf, const std::string& path);
  virtual ~PerfCounter();
  PerfCounter(const PerfCounter&) = delete;
  PerfCounter& operator=(const PerfCounter&) = delete;

  bool IsAdded() const { return counterHandle != NotAddedCounter(); }
  PdhStatus RemoveFromQuery();
  PdhStatus AddToQuery(PdhQuery query);
  void ResetStatistics();
  // Reads the latest collected value, stores its raw sample in the ring and
  // recomputes the statistics over the ring's window.
  PdhStatus Fetch();
  double Value(ValueKind kind) const;

  std::string path;
  PdhCounter counterHandle = NotAddedCounter();
  std::vector<PdhRawCounter> rawSamples;  // RawSampleCapacity of them
  PdhStatistics statistics{};
  uint32_t firstIndex = 0;
  uint32_t nextIndex = 0;
  uint32_t sampleCount = 0;
  double lastValue = 0.0;

 private:
  PerfData* perf;
};

class PerfCounterSet {
 public:
  explicit PerfCounterSet(PerfData* perf);
  virtual ~PerfCounterSet();
  // A set moved from is closed and empty.
  PerfCounterSet(PerfCounterSet&& other) noexcept;
  PerfCounterSet& operator=(PerfCounterSet&& other) noexcept;

  bool IsOpen() const { return queryHandle != ClosedQuery(); }
  // Opens a real-time query and adds to it every counter not yet added; an
  // open set is closed first.
  PdhStatus Open();
  PdhStatus Close();
  PdhStatus AddCounter(const std::string& path);
  // Collects the query and fetches every counter; a counter whose fetch
  // fails is reset.
  PdhStatus Collect();
  // nullptr for an index out of range.
  PerfCounter* CounterAt(int index);
  int CounterCount() const { return static_cast<int>(counters.size()); }

  PdhQuery queryHandle = ClosedQuery();
  std::vector<std::unique_ptr<PerfCounter>> counters;

 private:
  void DestroyCounters();

  PerfData* perf;
};

}  // namespace pelko
