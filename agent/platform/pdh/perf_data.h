// Performance-data service: the PDH calls the counters make, with PDH's
// status codes and record layouts. It is PDH itself, used by the Windows
// spooler alone; the interface lets the counters' ring and statistics be
// tested on every platform against a fake.
//
// Safe for concurrent use from any thread; a query and its counters
// belong to the thread that opened it.
#pragma once

#include <cstdint>
#include <string>

namespace pelko {

using PdhStatus = uint32_t;  // PDH_STATUS
using PdhQuery = void*;      // PDH_HQUERY
using PdhCounter = void*;    // PDH_HCOUNTER

inline constexpr PdhStatus kPdhSuccess = 0;
inline constexpr PdhStatus kPdhCstatusValidData = 0x00000000;
inline constexpr PdhStatus kPdhCstatusNoMachine = 0x800007D0;
inline constexpr PdhStatus kPdhCstatusNoInstance = 0x800007D1;
inline constexpr PdhStatus kPdhNoData = 0x800007D5;
inline constexpr PdhStatus kPdhCstatusNoCounter = 0xC0000BB9;
inline constexpr PdhStatus kPdhCstatusInvalidData = 0xC0000BBA;
inline constexpr PdhStatus kPdhInvalidHandle = 0xC0000BBC;
inline constexpr PdhStatus kPdhInvalidArgument = 0xC0000BBD;
inline constexpr PdhStatus kPdhInvalidData = 0xC0000BC6;

// PDH_FMT_* formats.
inline constexpr uint32_t kPdhFmtLong = 0x00000100;
inline constexpr uint32_t kPdhFmtDouble = 0x00000200;
inline constexpr uint32_t kPdhFmtLarge = 0x00000400;

// Counter types (PERF_*).
inline constexpr uint32_t kPerfCounterRawcount = 0x00010000;

// FILETIME.
struct FileTime {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

// PDH_RAW_COUNTER, laid out exactly like it (checked on Win32).
struct PdhRawCounter {
  uint32_t CStatus;
  FileTime TimeStamp;
  int64_t FirstValue;
  int64_t SecondValue;
  uint32_t MultiCount;
};

// PDH_FMT_COUNTERVALUE.
struct PdhFmtCounterValue {
  uint32_t CStatus;
  union {
    int32_t longValue;
    double doubleValue;
    int64_t largeValue;
    const char* AnsiStringValue;
    const wchar_t* WideStringValue;
  };
};

// PDH_STATISTICS.
struct PdhStatistics {
  uint32_t dwFormat;
  uint32_t count;
  PdhFmtCounterValue min;
  PdhFmtCounterValue max;
  PdhFmtCounterValue mean;
};

class PerfData {
 public:
  virtual ~PerfData() = default;
  // PdhOpenQueryA; dataSource nullptr is real-time data.
  virtual PdhStatus OpenQuery(const char* dataSource, uintptr_t userData, PdhQuery* query) = 0;
  // PdhAddCounterA.
  virtual PdhStatus AddCounter(PdhQuery query, const std::string& path, uintptr_t userData,
                               PdhCounter* counter) = 0;
  // PdhCollectQueryData: one new raw sample for every counter of the query.
  virtual PdhStatus CollectQueryData(PdhQuery query) = 0;
  // PdhGetFormattedCounterValue of the latest sample; type may be nullptr.
  virtual PdhStatus GetFormattedCounterValue(PdhCounter counter, uint32_t format, uint32_t* type,
                                             PdhFmtCounterValue* value) = 0;
  // PdhGetRawCounterValue of the latest sample; type may be nullptr.
  virtual PdhStatus GetRawCounterValue(PdhCounter counter, uint32_t* type,
                                       PdhRawCounter* value) = 0;
  // PdhComputeCounterStatistics over the ring raw[0..entryCount): from
  // firstEntry (the oldest sample) on, wrapping at entryCount.
  virtual PdhStatus ComputeCounterStatistics(PdhCounter counter, uint32_t format,
                                             uint32_t firstEntry, uint32_t entryCount,
                                             const PdhRawCounter* raw,
                                             PdhStatistics* statistics) = 0;
  // PdhRemoveCounter.
  virtual PdhStatus RemoveCounter(PdhCounter counter) = 0;
  // PdhCloseQuery; also removes the counters still in the query.
  virtual PdhStatus CloseQuery(PdhQuery query) = 0;
};

PerfData& PlatformPerfData();

}  // namespace pelko
