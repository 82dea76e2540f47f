#include "tests/fakes/fake_perf_data.h"

#include <algorithm>

namespace pelko {

FakePerfData::~FakePerfData() {
  for (Counter* counter : counters) delete counter;
  for (Query* query : queries) delete query;
}

PdhStatus FakePerfData::Failure(const std::map<std::string, PdhStatus>& failures,
                                const std::string& path) {
  auto found = failures.find(path);
  return found != failures.end() ? found->second : 0;
}

PdhStatus FakePerfData::OpenQuery(const char*, uintptr_t, PdhQuery* query) {
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("open");
  if (openFailure != 0) return openFailure;
  auto* opened = new Query;
  queries.insert(opened);
  *query = opened;
  return 0;
}

PdhStatus FakePerfData::AddCounter(PdhQuery queryHandle, const std::string& path, uintptr_t,
                                   PdhCounter* counterHandle) {
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("add " + path);
  auto* query = static_cast<Query*>(queryHandle);
  if (queries.count(query) == 0) return kPdhInvalidHandle;
  if (const PdhStatus failure = Failure(addFailures, path)) return failure;
  if (values.count(path) == 0) return kPdhCstatusNoCounter;
  auto* counter = new Counter;
  counter->path = path;
  counter->query = query;
  query->counters.push_back(counter);
  counters.insert(counter);
  *counterHandle = counter;
  return 0;
}

PdhStatus FakePerfData::CollectQueryData(PdhQuery queryHandle) {
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("collect");
  auto* query = static_cast<Query*>(queryHandle);
  if (queries.count(query) == 0) return kPdhInvalidHandle;
  if (collectFailure != 0) return collectFailure;
  if (query->counters.empty()) return kPdhNoData;
  for (Counter* counter : query->counters) {
    counter->value = values[counter->path];
    counter->sampled = true;
  }
  ticks += 10000000;
  return 0;
}

PdhStatus FakePerfData::GetFormattedCounterValue(PdhCounter counterHandle, uint32_t format,
                                                 uint32_t* type, PdhFmtCounterValue* value) {
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("formatted");
  auto* counter = static_cast<Counter*>(counterHandle);
  if (counters.count(counter) == 0) return kPdhInvalidHandle;
  if (const PdhStatus failure = Failure(formattedFailures, counter->path)) return failure;
  if (type != nullptr) *type = kPerfCounterRawcount;
  if (!counter->sampled) {
    value->CStatus = kPdhCstatusInvalidData;
    return kPdhInvalidData;
  }
  value->CStatus = 0;
  if (format & kPdhFmtDouble) {
    value->doubleValue = counter->value;
  } else if (format & kPdhFmtLarge) {
    value->largeValue = static_cast<int64_t>(counter->value);
  } else if (format & kPdhFmtLong) {
    value->longValue = static_cast<int32_t>(counter->value);
  } else {
    return kPdhInvalidArgument;
  }
  return 0;
}

PdhStatus FakePerfData::GetRawCounterValue(PdhCounter counterHandle, uint32_t* type,
                                           PdhRawCounter* value) {
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("raw");
  auto* counter = static_cast<Counter*>(counterHandle);
  if (counters.count(counter) == 0) return kPdhInvalidHandle;
  if (const PdhStatus failure = Failure(rawFailures, counter->path)) return failure;
  if (type != nullptr) *type = kPerfCounterRawcount;
  *value = PdhRawCounter{};
  value->CStatus = counter->sampled ? 0 : kPdhCstatusInvalidData;
  value->TimeStamp = FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
  value->FirstValue = static_cast<int64_t>(counter->value);
  value->MultiCount = 1;
  return 0;
}

PdhStatus FakePerfData::ComputeCounterStatistics(PdhCounter counterHandle, uint32_t format,
                                                 uint32_t firstEntry, uint32_t entryCount,
                                                 const PdhRawCounter* raw,
                                                 PdhStatistics* statistics) {
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("statistics " + std::to_string(firstEntry) + " " + std::to_string(entryCount));
  auto* counter = static_cast<Counter*>(counterHandle);
  if (counters.count(counter) == 0) return kPdhInvalidHandle;
  if (const PdhStatus failure = Failure(statisticsFailures, counter->path)) return failure;
  if (raw == nullptr || entryCount == 0 || firstEntry >= entryCount) return kPdhInvalidArgument;
  double low = 0, high = 0, sum = 0;
  for (uint32_t k = 0; k < entryCount; ++k) {
    const double v = static_cast<double>(raw[(firstEntry + k) % entryCount].FirstValue);
    low = k == 0 ? v : std::min(low, v);
    high = k == 0 ? v : std::max(high, v);
    sum += v;
  }
  PdhStatistics result{};
  result.dwFormat = format;
  result.count = entryCount;
  result.min.doubleValue = low;
  result.max.doubleValue = high;
  result.mean.doubleValue = sum / entryCount;
  *statistics = result;
  return 0;
}

PdhStatus FakePerfData::RemoveCounter(PdhCounter counterHandle) {
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("remove");
  auto* counter = static_cast<Counter*>(counterHandle);
  if (counters.count(counter) == 0) return kPdhInvalidHandle;
  auto& list = counter->query->counters;
  list.erase(std::remove(list.begin(), list.end(), counter), list.end());
  counters.erase(counter);
  delete counter;
  return 0;
}

PdhStatus FakePerfData::CloseQuery(PdhQuery queryHandle) {
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("close");
  auto* query = static_cast<Query*>(queryHandle);
  if (queries.count(query) == 0) return kPdhInvalidHandle;
  for (Counter* counter : query->counters) {
    counters.erase(counter);
    delete counter;
  }
  queries.erase(query);
  delete query;
  return 0;
}

void FakePerfData::SetValue(const std::string& path, double value) {
  std::lock_guard<std::mutex> lock(mutex);
  values[path] = value;
}
void FakePerfData::FailOpen(PdhStatus status) {
  std::lock_guard<std::mutex> lock(mutex);
  openFailure = status;
}
void FakePerfData::FailAdd(const std::string& path, PdhStatus status) {
  std::lock_guard<std::mutex> lock(mutex);
  addFailures[path] = status;
}
void FakePerfData::FailCollect(PdhStatus status) {
  std::lock_guard<std::mutex> lock(mutex);
  collectFailure = status;
}
void FakePerfData::FailFormatted(const std::string& path, PdhStatus status) {
  std::lock_guard<std::mutex> lock(mutex);
  formattedFailures[path] = status;
}
void FakePerfData::FailRaw(const std::string& path, PdhStatus status) {
  std::lock_guard<std::mutex> lock(mutex);
  rawFailures[path] = status;
}
void FakePerfData::FailStatistics(const std::string& path, PdhStatus status) {
  std::lock_guard<std::mutex> lock(mutex);
  statisticsFailures[path] = status;
}

std::vector<std::string> FakePerfData::Calls() {
  std::lock_guard<std::mutex> lock(mutex);
  return calls;
}
void FakePerfData::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex);
  calls.clear();
}
int FakePerfData::OpenQueries() {
  std::lock_guard<std::mutex> lock(mutex);
  return static_cast<int>(queries.size());
}
int FakePerfData::LiveCounters() {
  std::lock_guard<std::mutex> lock(mutex);
  return static_cast<int>(counters.size());
}

}  // namespace pelko
