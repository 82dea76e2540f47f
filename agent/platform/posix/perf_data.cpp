// No performance data over CUPS: the queue's page counter is the spooler's
// (Spooler::ReadPageTotal). Every query is refused.
#include "agent/platform/pdh/perf_data.h"

namespace pelko {

namespace {

class NoPerfData : public PerfData {
 public:
  PdhStatus OpenQuery(const char*, uintptr_t, PdhQuery* query) override {
    if (query != nullptr) *query = nullptr;
    return kPdhCstatusNoObject;
  }
  PdhStatus AddCounter(PdhQuery, const std::string&, uintptr_t, PdhCounter* counter) override {
    if (counter != nullptr) *counter = nullptr;
    return kPdhInvalidHandle;
  }
  PdhStatus CollectQueryData(PdhQuery) override { return kPdhInvalidHandle; }
  PdhStatus GetFormattedCounterValue(PdhCounter, uint32_t, uint32_t*,
                                     PdhFmtCounterValue*) override {
    return kPdhInvalidHandle;
  }
  PdhStatus GetRawCounterValue(PdhCounter, uint32_t*, PdhRawCounter*) override {
    return kPdhInvalidHandle;
  }
  PdhStatus ComputeCounterStatistics(PdhCounter, uint32_t, uint32_t, uint32_t,
                                     const PdhRawCounter*, PdhStatistics*) override {
    return kPdhInvalidHandle;
  }
  PdhStatus RemoveCounter(PdhCounter) override { return kPdhInvalidHandle; }
  PdhStatus CloseQuery(PdhQuery) override { return kPdhInvalidHandle; }
};

}  // namespace

PerfData& PlatformPerfData() {
  static NoPerfData service;
  return service;
}

}  // namespace pelko
