// Against Wine's own PDH, spooler and computer name. Wine has no print
// queues and only a few counters; of these "\System\System Up Time" is read.
// Two things must be kept away from Wine: PdhComputeCounterStatistics is not
// implemented there and aborts the process (so no Fetch, and no Collect on a
// set that holds a counter Wine can add), and PDH_FMT_DOUBLE gives 0.0 (so
// values are checked with PDH_FMT_LARGE); the raw record's FirstValue of this
// counter is 0 too.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/logs/log_locks.h"
#include "agent/monitor/printer_thread.h"
#include "agent/platform/env.h"
#include "agent/platform/pdh/perf_counter.h"

namespace pelko {
namespace {

constexpr const char* kUpTime = "\\System\\System Up Time";

std::string ComputerName() {
  char name[16] = {};
  uint32_t size = sizeof name;
  EXPECT_EQ(PlatformSystemInfo().GetComputerNameA(name, &size), 0u);
  return std::string(name, strnlen(name, sizeof name));
}

int64_t UpTime(PerfData& perf, PdhCounter counter) {
  PdhFmtCounterValue value{};
  EXPECT_EQ(perf.GetFormattedCounterValue(counter, kPdhFmtLarge, nullptr, &value), kPdhSuccess);
  return value.largeValue;
}

TEST(Win32PerfData, ReadsACounterThroughARealTimeQuery) {
  PerfData& perf = PlatformPerfData();
  PdhQuery query = nullptr;
  ASSERT_EQ(perf.OpenQuery(nullptr, 1, &query), kPdhSuccess);
  PdhCounter counter = nullptr;
  ASSERT_EQ(perf.AddCounter(query, kUpTime, 1, &counter), kPdhSuccess);
  ASSERT_EQ(perf.CollectQueryData(query), kPdhSuccess);
  const int64_t first = UpTime(perf, counter);
  EXPECT_GT(first, 0);
  PdhRawCounter raw{};
  ASSERT_EQ(perf.GetRawCounterValue(counter, nullptr, &raw), kPdhSuccess);
  EXPECT_EQ(raw.CStatus, kPdhCstatusValidData);  // its FirstValue is 0 under Wine

  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(perf.CollectQueryData(query), kPdhSuccess);
  const int64_t second = UpTime(perf, counter);
  EXPECT_GE(second, first + 1);
  EXPECT_LE(second, first + 3);

  EXPECT_EQ(perf.RemoveCounter(counter), kPdhSuccess);
  EXPECT_EQ(perf.CloseQuery(query), kPdhSuccess);
}

TEST(Win32PerfData, PrintQueueCountersAreUnknownToWine) {
  PerfData& perf = PlatformPerfData();
  PdhQuery query = nullptr;
  ASSERT_EQ(perf.OpenQuery(nullptr, 1, &query), kPdhSuccess);
  PdhCounter counter = nullptr;
  const std::string path = "\\\\" + ComputerName() + "\\Print Queue(HP)\\Total Pages Printed";
  EXPECT_EQ(perf.AddCounter(query, path, 1, &counter), kPdhCstatusNoCounter);
  EXPECT_EQ(perf.CloseQuery(query), kPdhSuccess);
}

TEST(Win32PerfCounterSet, OpensAddsAndClosesAgainstRealPdh) {
  PerfCounterSet set(&PlatformPerfData());
  ASSERT_EQ(set.AddCounter(kUpTime), kPdhSuccess);
  ASSERT_EQ(set.AddCounter("\\\\" + ComputerName() + "\\Print Queue(HP)\\Total Pages Printed"),
            kPdhSuccess);
  EXPECT_EQ(set.Open(), kPdhCstatusNoCounter);
  EXPECT_TRUE(set.CounterAt(0)->IsAdded());
  EXPECT_FALSE(set.CounterAt(1)->IsAdded());
  EXPECT_EQ(set.Close(), kPdhSuccess);
  EXPECT_FALSE(set.CounterAt(0)->IsAdded());
  EXPECT_EQ(set.Close(), kPdhSuccess);
  ASSERT_EQ(set.Open(), kPdhCstatusNoCounter);
  EXPECT_TRUE(set.CounterAt(0)->IsAdded()) << "added again to the new query";
}

TEST(Win32Spooler, WineHasNoPrintQueuesNorTheirCounters) {
  std::unique_ptr<JobCursor> cursor;
  std::vector<SpoolJob> jobs;
  EXPECT_EQ(PlatformSpooler().ListJobs("HP", &cursor, &jobs), SpoolStatus::kNoQueue);
  EXPECT_TRUE(cursor == nullptr);
  uint32_t total = 17;
  EXPECT_EQ(PlatformSpooler().ReadPageTotal("HP", &total), SpoolStatus::kFailed)
      << "no such counter";
  EXPECT_EQ(total, 17u);
}

TEST(Win32SystemInfo, ComputerNameFitsSixteenBytes) {
  const std::string name = ComputerName();
  EXPECT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  char tiny[1];
  uint32_t size = sizeof tiny;
  EXPECT_EQ(PlatformSystemInfo().GetComputerNameA(tiny, &size), kErrorBufferOverflow);
  EXPECT_GT(size, 1u);
}

// The printer thread on the real services: the queue cannot be listed and
// its counter cannot be read, so it polls quietly and stops when asked.
TEST(Win32PrinterThread, PollsAMissingQueueQuietly) {
  LogLocks locks;
  PrinterThread thread(PlatformEnv(), locks);
  thread.SetPrinterName("HP");
  thread.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto before = std::chrono::steady_clock::now();
  thread.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(kStopGraceMs));
  EXPECT_EQ(thread.LastPageTotal(), 0u) << "no reading, no change";
}

}  // namespace
}  // namespace pelko
