// A queue's page total from PDH's "Print Queue" counters, on this computer
// or on a remote queue's server.
#include "agent/platform/win32/spooler/page_counters.h"

#include <windows.h>

#include <cmath>
#include <cstddef>
#include <cstring>

#include "agent/platform/pdh/perf_counter.h"

namespace pelko {

// A queue's page counter, kept open between readings so that its ring of
// samples goes on.
struct PageCounter {
  std::mutex mutex;  // one reading at a time
  PerfCounterSet set{&PlatformPerfData()};
};

namespace {

SpoolStatus FromPdh(PdhStatus status) {
  switch (status) {
    case kPdhCstatusNoInstance:
      return SpoolStatus::kNoQueue;
    case kPdhCstatusNoMachine:
      return SpoolStatus::kUnavailable;
    default:
      return SpoolStatus::kFailed;
  }
}

// Truncated toward zero, then taken modulo 2^32 like a conversion of the
// integer; what is no number at all reads as 0.
uint32_t ToPageTotal(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 9.0e18) return 0;
  return static_cast<uint32_t>(static_cast<int64_t>(value));
}

// "\\<machine>\Print Queue(<instance>)\Total Pages Printed": a remote
// queue's counter is on its server, a local one on this computer.
std::string CounterPath(const std::string& queue) {
  std::string machine;
  std::string instance;
  const std::size_t last = queue.rfind('\\');
  if (last != std::string::npos) {
    const std::string before = queue.substr(0, last);
    for (std::size_t i = 0; i < before.size(); ++i) {
      if (before[i] == '\\' && i + 1 < before.size() && before[i + 1] == '\\') {
        ++i;
        continue;
      }
      machine += before[i];
    }
    instance = queue.substr(last + 1);
  } else {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (::GetComputerNameA(name, &size)) machine.assign(name, strnlen(name, sizeof name));
    instance = queue;
  }
  return "\\\\" + machine + "\\Print Queue(" + instance + ")\\Total Pages Printed";
}

// One reading of the queue's counter, the counter added at its first.
SpoolStatus ReadCounter(const std::string& queue, PageCounter* counter, uint32_t* total) {
  std::lock_guard<std::mutex> reading(counter->mutex);
  PerfCounterSet& set = counter->set;
  struct Closer {
    PerfCounterSet& set;
    ~Closer() { set.Close(); }
  } closer{set};
  PdhStatus pdh = set.Open();
  if (pdh == 0 && set.CounterCount() == 0) pdh = set.AddCounter(CounterPath(queue));
  if (pdh != 0) return FromPdh(pdh);
  PerfCounter* page = set.CounterAt(0);
  pdh = set.Collect();
  if (pdh == 0) pdh = page->Fetch();
  if (pdh != 0) return FromPdh(pdh);
  *total = ToPageTotal(page->Value(ValueKind::Last));
  return SpoolStatus::kOk;
}

}  // namespace

PageCounters::PageCounters() = default;
PageCounters::~PageCounters() = default;

SpoolStatus PageCounters::ReadPageTotal(const std::string& queue, uint32_t* total) {
  if (queue.empty()) return SpoolStatus::kNoQueue;
  PageCounter* counter = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto& slot = counters[queue];
    if (!slot) slot = std::make_unique<PageCounter>();
    counter = slot.get();
  }
  return ReadCounter(queue, counter, total);
}

}  // namespace pelko
