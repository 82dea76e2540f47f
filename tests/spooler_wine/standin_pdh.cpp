// A pdh.dll for tests under Wine, whose own PDH has no "Print Queue"
// counters (and aborts in PdhComputeCounterStatistics): the counter
// "\\M\Print Queue(Q)\Total Pages Printed" reads the page total of queue Q
// of the stand-in winspool.drv loaded in the same process. Queues named
// "Missing..." have no instance; any other counter does not exist.
#include <windows.h>
#include <pdh.h>
#include <pdhmsg.h>

#include <set>
#include <string>

namespace {

struct Query;

struct Counter {
  Query* query;
  std::string queue;
  LONGLONG value = 0;
  bool sampled = false;
  LONGLONG stamp = 0;
};

struct Query {
  std::set<Counter*> counters;
};

SRWLOCK lock = SRWLOCK_INIT;
std::set<Query*>* queries;
std::string* lastPath;

struct Locked {
  Locked() {
    AcquireSRWLockExclusive(&lock);
    if (queries == nullptr) {
      queries = new std::set<Query*>;
      lastPath = new std::string;
    }
  }
  ~Locked() { ReleaseSRWLockExclusive(&lock); }
};

DWORD PageTotal(const std::string& queue) {
  using Total = DWORD (*)(const char*);
  HMODULE spooler = GetModuleHandleA("winspool.drv");
  auto total = spooler != nullptr ? reinterpret_cast<Total>(reinterpret_cast<void*>(
                                        GetProcAddress(spooler, "StandInPageTotal")))
                                  : nullptr;
  return total != nullptr ? total(queue.c_str()) : 0;
}

bool Known(Counter* counter) {
  for (Query* query : *queries) {
    if (query->counters.count(counter) != 0) return true;
  }
  return false;
}

}  // namespace

extern "C" {

PDH_STATUS WINAPI PdhOpenQueryA(LPCSTR, DWORD_PTR, PDH_HQUERY* query) {
  Locked locked;
  auto* made = new Query;
  queries->insert(made);
  *query = made;
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhAddCounterA(PDH_HQUERY query, LPCSTR path, DWORD_PTR, PDH_HCOUNTER* counter) {
  Locked locked;
  auto* owner = static_cast<Query*>(query);
  if (queries->count(owner) == 0 || path == nullptr) return PDH_INVALID_HANDLE;
  *lastPath = path;
  const std::string text = path;
  const std::string object = "\\Print Queue(";
  const std::string name = ")\\Total Pages Printed";
  const std::size_t open = text.find(object);
  if (text.rfind("\\\\", 0) != 0 || open == std::string::npos || text.size() < name.size() ||
      text.compare(text.size() - name.size(), name.size(), name) != 0) {
    return PDH_CSTATUS_NO_COUNTER;
  }
  const std::size_t from = open + object.size();
  const std::string queue = text.substr(from, text.size() - name.size() - from);
  if (queue.rfind("Missing", 0) == 0) return PDH_CSTATUS_NO_INSTANCE;
  auto* made = new Counter{owner, queue};
  owner->counters.insert(made);
  *counter = made;
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhCollectQueryData(PDH_HQUERY query) {
  Locked locked;
  auto* owner = static_cast<Query*>(query);
  if (queries->count(owner) == 0) return PDH_INVALID_HANDLE;
  if (owner->counters.empty()) return PDH_NO_DATA;
  for (Counter* counter : owner->counters) {
    counter->value = PageTotal(counter->queue);
    counter->sampled = true;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    counter->stamp = (static_cast<LONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  }
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhGetFormattedCounterValue(PDH_HCOUNTER handle, DWORD format, LPDWORD type,
                                              PPDH_FMT_COUNTERVALUE value) {
  Locked locked;
  auto* counter = static_cast<Counter*>(handle);
  if (!Known(counter)) return PDH_INVALID_HANDLE;
  if (type != nullptr) *type = PERF_COUNTER_RAWCOUNT;
  if (!counter->sampled) return PDH_INVALID_DATA;
  value->CStatus = PDH_CSTATUS_VALID_DATA;
  if (format & PDH_FMT_LONG) {
    value->longValue = static_cast<LONG>(counter->value);
  } else if (format & PDH_FMT_LARGE) {
    value->largeValue = counter->value;
  } else {
    value->doubleValue = static_cast<double>(counter->value);
  }
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhGetRawCounterValue(PDH_HCOUNTER handle, LPDWORD type, PPDH_RAW_COUNTER value) {
  Locked locked;
  auto* counter = static_cast<Counter*>(handle);
  if (!Known(counter)) return PDH_INVALID_HANDLE;
  if (type != nullptr) *type = PERF_COUNTER_RAWCOUNT;
  *value = PDH_RAW_COUNTER{};
  value->CStatus = counter->sampled ? PDH_CSTATUS_VALID_DATA : PDH_CSTATUS_INVALID_DATA;
  value->TimeStamp.dwLowDateTime = static_cast<DWORD>(counter->stamp);
  value->TimeStamp.dwHighDateTime = static_cast<DWORD>(counter->stamp >> 32);
  value->FirstValue = counter->value;
  value->MultiCount = 1;
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhComputeCounterStatistics(PDH_HCOUNTER handle, DWORD format, DWORD first,
                                              DWORD count, PPDH_RAW_COUNTER raw,
                                              PPDH_STATISTICS statistics) {
  Locked locked;
  if (!Known(static_cast<Counter*>(handle))) return PDH_INVALID_HANDLE;
  if (raw == nullptr || count == 0 || first >= count) return PDH_INVALID_ARGUMENT;
  double low = 0, high = 0, sum = 0;
  for (DWORD i = 0; i < count; ++i) {
    const double value = static_cast<double>(raw[(first + i) % count].FirstValue);
    low = i == 0 || value < low ? value : low;
    high = i == 0 || value > high ? value : high;
    sum += value;
  }
  statistics->dwFormat = format;
  statistics->count = count;
  statistics->min.CStatus = statistics->max.CStatus = statistics->mean.CStatus = 0;
  statistics->min.doubleValue = low;
  statistics->max.doubleValue = high;
  statistics->mean.doubleValue = sum / count;
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhRemoveCounter(PDH_HCOUNTER handle) {
  Locked locked;
  auto* counter = static_cast<Counter*>(handle);
  if (!Known(counter)) return PDH_INVALID_HANDLE;
  counter->query->counters.erase(counter);
  delete counter;
  return ERROR_SUCCESS;
}

PDH_STATUS WINAPI PdhCloseQuery(PDH_HQUERY query) {
  Locked locked;
  auto* owner = static_cast<Query*>(query);
  if (queries->erase(owner) == 0) return PDH_INVALID_HANDLE;
  for (Counter* counter : owner->counters) delete counter;
  delete owner;
  return ERROR_SUCCESS;
}

// The test's view: the path of the last counter asked for, and the
// queries left open.
void StandInPdhLastPath(char* buffer, DWORD size) {
  Locked locked;
  lstrcpynA(buffer, lastPath->c_str(), static_cast<int>(size));
}

DWORD StandInPdhOpenQueries() {
  Locked locked;
  return static_cast<DWORD>(queries->size());
}

}  // extern "C"
