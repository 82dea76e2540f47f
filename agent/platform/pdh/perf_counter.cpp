#include "agent/platform/pdh/perf_counter.h"

namespace pelko {

PerfCounter::PerfCounter(PerfData* perf, const std::string& path)
    : path(path), rawSamples(RawSampleCapacity), perf(perf) {
  ResetStatistics();
}

PerfCounter::~PerfCounter() { RemoveFromQuery(); }

PdhStatus PerfCounter::RemoveFromQuery() {
  if (!IsAdded()) return 0;
  const PdhStatus status = perf != nullptr ? perf->RemoveCounter(counterHandle) : kPdhInvalidHandle;
  counterHandle = NotAddedCounter();
  return status;
}

PdhStatus PerfCounter::AddToQuery(PdhQuery query) {
  const PdhStatus removed = RemoveFromQuery();
  if (removed != 0) return removed;
  if (perf == nullptr) return kPdhInvalidHandle;
  PdhCounter added = NotAddedCounter();
  const PdhStatus status = perf->AddCounter(query, path, 1, &added);
  if (status == 0) counterHandle = added;
  return status;
}

void PerfCounter::ResetStatistics() {
  statistics.dwFormat = 0;
  statistics.count = 0;
  for (PdhFmtCounterValue* value : {&statistics.min, &statistics.max, &statistics.mean}) {
    value->CStatus = kPdhCstatusInvalidData;
    value->doubleValue = 0.0;
  }
  firstIndex = 0;
  nextIndex = 0;
  sampleCount = 0;
  lastValue = 0.0;
}

PdhStatus PerfCounter::Fetch() {
  if (perf == nullptr) return kPdhInvalidHandle;
  PdhFmtCounterValue formatted{};
  PdhStatus status =
      perf->GetFormattedCounterValue(counterHandle, kPdhFmtDouble, nullptr, &formatted);
  if (status != 0) return status;
  lastValue = formatted.doubleValue;

  PdhRawCounter raw{};
  status = perf->GetRawCounterValue(counterHandle, nullptr, &raw);
  if (status != 0) return status;
  rawSamples[nextIndex] = raw;

  // The window: the stored samples and the one just written, oldest first.
  const uint32_t window = sampleCount + 1;
  PdhStatistics computed{};
  status = perf->ComputeCounterStatistics(counterHandle, kPdhFmtDouble, firstIndex, window,
                                          rawSamples.data(), &computed);
  if (status != 0) return status;
  statistics = computed;

  if (window < RawSampleCapacity) {
    sampleCount = window;
    nextIndex = (nextIndex + 1) % RawSampleCapacity;
  } else {
    sampleCount = RawSampleCapacity - 1;
    nextIndex = firstIndex;
    firstIndex = (firstIndex + 1) % RawSampleCapacity;
  }
  return 0;
}

double PerfCounter::Value(ValueKind kind) const {
  switch (kind) {
    case ValueKind::Last:
      return lastValue;
    case ValueKind::Minimum:
      return statistics.min.doubleValue;
    case ValueKind::Maximum:
      return statistics.max.doubleValue;
    case ValueKind::Mean:
      return statistics.mean.doubleValue;
  }
  return 0.0;
}

PerfCounterSet::PerfCounterSet(PerfData* perf) : perf(perf) {}

PerfCounterSet::~PerfCounterSet() {
  Close();
  DestroyCounters();
}

void PerfCounterSet::DestroyCounters() {
  for (auto& counter : counters) counter.reset();
  counters.clear();
}

PerfCounterSet::PerfCounterSet(PerfCounterSet&& other) noexcept
    : queryHandle(other.queryHandle), counters(std::move(other.counters)), perf(other.perf) {
  other.queryHandle = ClosedQuery();
  other.counters.clear();
}

PerfCounterSet& PerfCounterSet::operator=(PerfCounterSet&& other) noexcept {
  if (this == &other) return *this;
  Close();
  DestroyCounters();
  queryHandle = other.queryHandle;
  counters = std::move(other.counters);
  perf = other.perf;
  other.queryHandle = ClosedQuery();
  other.counters.clear();
  return *this;
}

PdhStatus PerfCounterSet::Open() {
  if (IsOpen()) Close();
  if (perf == nullptr) return kPdhInvalidHandle;
  PdhQuery opened = ClosedQuery();
  const PdhStatus status = perf->OpenQuery(nullptr, 1, &opened);
  if (status != 0) return status;
  queryHandle = opened;
  for (auto& counter : counters) {
    if (counter->IsAdded()) continue;
    const PdhStatus added = counter->AddToQuery(queryHandle);
    if (added != 0) return added;
  }
  return 0;
}

PdhStatus PerfCounterSet::Close() {
  if (!IsOpen()) return 0;
  for (auto& counter : counters) counter->RemoveFromQuery();
  const PdhStatus status = perf != nullptr ? perf->CloseQuery(queryHandle) : kPdhInvalidHandle;
  queryHandle = ClosedQuery();
  return status;
}

PdhStatus PerfCounterSet::AddCounter(const std::string& path) {
  auto counter = std::make_unique<PerfCounter>(perf, path);
  if (IsOpen()) {
    const PdhStatus status = counter->AddToQuery(queryHandle);
    if (status != 0) return status;
  }
  counters.push_back(std::move(counter));
  return 0;
}

PdhStatus PerfCounterSet::Collect() {
  if (perf == nullptr) return kPdhInvalidHandle;
  const PdhStatus status = perf->CollectQueryData(queryHandle);
  if (status != 0) return status;
  for (auto& counter : counters) {
    if (counter->Fetch() != 0) counter->ResetStatistics();
  }
  return 0;
}

PerfCounter* PerfCounterSet::CounterAt(int index) {
  if (index < 0 || index >= CounterCount()) return nullptr;
  return counters[static_cast<std::size_t>(index)].get();
}

}  // namespace pelko
