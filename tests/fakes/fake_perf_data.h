// In-memory PDH: counters are known by path and give the value the test set
// at each collect; any call can be made to fail with a status of choice.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "agent/platform/pdh/perf_data.h"

namespace pelko {

class FakePerfData : public PerfData {
 public:
  FakePerfData() = default;
  ~FakePerfData() override;
  FakePerfData(const FakePerfData&) = delete;
  FakePerfData& operator=(const FakePerfData&) = delete;

  PdhStatus OpenQuery(const char* dataSource, uintptr_t userData, PdhQuery* query) override;
  PdhStatus AddCounter(PdhQuery query, const std::string& path, uintptr_t userData,
                       PdhCounter* counter) override;
  PdhStatus CollectQueryData(PdhQuery query) override;
  PdhStatus GetFormattedCounterValue(PdhCounter counter, uint32_t format, uint32_t* type,
                                     PdhFmtCounterValue* value) override;
  PdhStatus GetRawCounterValue(PdhCounter counter, uint32_t* type, PdhRawCounter* value) override;
  PdhStatus ComputeCounterStatistics(PdhCounter counter, uint32_t format, uint32_t firstEntry,
                                     uint32_t entryCount, const PdhRawCounter* raw,
                                     PdhStatistics* statistics) override;
  PdhStatus RemoveCounter(PdhCounter counter) override;
  PdhStatus CloseQuery(PdhQuery query) override;

  // The value a counter of this path takes at each later collect. A path
  // never given a value cannot be added (kPdhCstatusNoCounter).
  void SetValue(const std::string& path, double value);
  // Failures that last until set to 0.
  void FailOpen(PdhStatus status);
  void FailAdd(const std::string& path, PdhStatus status);
  void FailCollect(PdhStatus status);
  void FailFormatted(const std::string& path, PdhStatus status);
  void FailRaw(const std::string& path, PdhStatus status);
  void FailStatistics(const std::string& path, PdhStatus status);

  // Every call, in order: "open", "add PATH", "collect", "formatted",
  // "raw", "statistics FIRST COUNT", "remove", "close".
  std::vector<std::string> Calls();
  void ClearCalls();
  int OpenQueries();
  int LiveCounters();

 private:
  struct Query;
  struct Counter {
    std::string path;
    Query* query = nullptr;
    bool sampled = false;
    double value = 0.0;
  };
  struct Query {
    std::vector<Counter*> counters;
  };
  PdhStatus Failure(const std::map<std::string, PdhStatus>& failures, const std::string& path);

  std::mutex mutex;
  std::map<std::string, double> values;
  PdhStatus openFailure = 0;
  PdhStatus collectFailure = 0;
  std::map<std::string, PdhStatus> addFailures;
  std::map<std::string, PdhStatus> formattedFailures;
  std::map<std::string, PdhStatus> rawFailures;
  std::map<std::string, PdhStatus> statisticsFailures;
  std::set<Query*> queries;
  std::set<Counter*> counters;
  std::vector<std::string> calls;
  int64_t ticks = 133000000000000000LL;
};

}  // namespace pelko
