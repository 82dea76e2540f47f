#include "agent/platform/pdh/perf_data.h"

#include <windows.h>
#include <pdh.h>
#include <pdhmsg.h>

#include <cstddef>

namespace pelko {

// The ring of raw samples is passed to PdhComputeCounterStatistics as it
// stands, and the statistics come back in place.
static_assert(sizeof(PdhRawCounter) == sizeof(PDH_RAW_COUNTER));
static_assert(offsetof(PdhRawCounter, CStatus) == offsetof(PDH_RAW_COUNTER, CStatus));
static_assert(offsetof(PdhRawCounter, TimeStamp) == offsetof(PDH_RAW_COUNTER, TimeStamp));
static_assert(offsetof(PdhRawCounter, FirstValue) == offsetof(PDH_RAW_COUNTER, FirstValue));
static_assert(offsetof(PdhRawCounter, SecondValue) == offsetof(PDH_RAW_COUNTER, SecondValue));
static_assert(offsetof(PdhRawCounter, MultiCount) == offsetof(PDH_RAW_COUNTER, MultiCount));
static_assert(sizeof(FileTime) == sizeof(FILETIME));
static_assert(sizeof(PdhFmtCounterValue) == sizeof(PDH_FMT_COUNTERVALUE));
static_assert(offsetof(PdhFmtCounterValue, CStatus) == offsetof(PDH_FMT_COUNTERVALUE, CStatus));
static_assert(offsetof(PdhFmtCounterValue, doubleValue) ==
              offsetof(PDH_FMT_COUNTERVALUE, doubleValue));
static_assert(sizeof(PdhStatistics) == sizeof(PDH_STATISTICS));
static_assert(offsetof(PdhStatistics, dwFormat) == offsetof(PDH_STATISTICS, dwFormat));
static_assert(offsetof(PdhStatistics, count) == offsetof(PDH_STATISTICS, count));
static_assert(offsetof(PdhStatistics, min) == offsetof(PDH_STATISTICS, min));
static_assert(offsetof(PdhStatistics, max) == offsetof(PDH_STATISTICS, max));
static_assert(offsetof(PdhStatistics, mean) == offsetof(PDH_STATISTICS, mean));
static_assert(kPdhCstatusInvalidData == static_cast<PdhStatus>(PDH_CSTATUS_INVALID_DATA));
static_assert(kPdhCstatusNoMachine == static_cast<PdhStatus>(PDH_CSTATUS_NO_MACHINE));
static_assert(kPdhCstatusNoInstance == static_cast<PdhStatus>(PDH_CSTATUS_NO_INSTANCE));
static_assert(kPdhCstatusNoCounter == static_cast<PdhStatus>(PDH_CSTATUS_NO_COUNTER));
static_assert(kPdhInvalidHandle == static_cast<PdhStatus>(PDH_INVALID_HANDLE));
static_assert(kPdhInvalidData == static_cast<PdhStatus>(PDH_INVALID_DATA));
static_assert(kPdhFmtDouble == PDH_FMT_DOUBLE);

namespace {

PdhStatus Status(PDH_STATUS status) { return static_cast<PdhStatus>(status); }

class Win32PerfData : public PerfData {
 public:
  PdhStatus OpenQuery(const char* dataSource, uintptr_t userData, PdhQuery* query) override {
    PDH_HQUERY handle = nullptr;
    const PDH_STATUS status = PdhOpenQueryA(dataSource, userData, &handle);
    if (status == ERROR_SUCCESS) *query = handle;
    return Status(status);
  }
  PdhStatus AddCounter(PdhQuery query, const std::string& path, uintptr_t userData,
                       PdhCounter* counter) override {
    PDH_HCOUNTER handle = nullptr;
    const PDH_STATUS status = PdhAddCounterA(query, path.c_str(), userData, &handle);
    if (status == ERROR_SUCCESS) *counter = handle;
    return Status(status);
  }
  PdhStatus CollectQueryData(PdhQuery query) override { return Status(PdhCollectQueryData(query)); }
  PdhStatus GetFormattedCounterValue(PdhCounter counter, uint32_t format, uint32_t* type,
                                     PdhFmtCounterValue* value) override {
    DWORD counterType = 0;
    const PDH_STATUS status = PdhGetFormattedCounterValue(
        counter, format, &counterType, reinterpret_cast<PDH_FMT_COUNTERVALUE*>(value));
    if (type != nullptr) *type = counterType;
    return Status(status);
  }
  PdhStatus GetRawCounterValue(PdhCounter counter, uint32_t* type, PdhRawCounter* value) override {
    DWORD counterType = 0;
    const PDH_STATUS status =
        PdhGetRawCounterValue(counter, &counterType, reinterpret_cast<PDH_RAW_COUNTER*>(value));
    if (type != nullptr) *type = counterType;
    return Status(status);
  }
  PdhStatus ComputeCounterStatistics(PdhCounter counter, uint32_t format, uint32_t firstEntry,
                                     uint32_t entryCount, const PdhRawCounter* raw,
                                     PdhStatistics* statistics) override {
    // PDH only reads the ring; its prototype is not const.
    return Status(PdhComputeCounterStatistics(
        counter, format, firstEntry, entryCount,
        reinterpret_cast<PDH_RAW_COUNTER*>(const_cast<PdhRawCounter*>(raw)),
        reinterpret_cast<PDH_STATISTICS*>(statistics)));
  }
  PdhStatus RemoveCounter(PdhCounter counter) override { return Status(PdhRemoveCounter(counter)); }
  PdhStatus CloseQuery(PdhQuery query) override { return Status(PdhCloseQuery(query)); }
};

}  // namespace

PerfData& PlatformPerfData() {
  static Win32PerfData service;
  return service;
}

}  // namespace pelko
