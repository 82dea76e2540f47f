#include "agent/platform/pdh/perf_counter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/fake_perf_data.h"

namespace pelko {
namespace {

const std::string kA = "\\\\PC1\\Print Queue(A)\\Total Pages Printed";
const std::string kB = "\\\\PC1\\Print Queue(B)\\Total Pages Printed";
const std::string kC = "\\\\PC1\\Print Queue(C)\\Total Pages Printed";
constexpr PdhStatus kBroken = 0xC0000BC9;

class PerfCounterTest : public ::testing::Test {
 protected:
  PerfCounterTest() {
    for (const auto& path : {kA, kB, kC}) perf.SetValue(path, 0);
  }
  // One Collect with the counter at value.
  void CollectAt(PerfCounterSet& set, const std::string& path, double value) {
    perf.SetValue(path, value);
    ASSERT_EQ(set.Collect(), 0u);
  }
  std::string LastStatisticsCall() {
    std::string last;
    for (const auto& call : perf.Calls()) {
      if (call.rfind("statistics", 0) == 0) last = call;
    }
    return last;
  }

  FakePerfData perf;
};

TEST_F(PerfCounterTest, ClosedSetClosesAsANoOpAndCollectsNothing) {
  PerfCounterSet set(&perf);
  EXPECT_FALSE(set.IsOpen());
  EXPECT_EQ(set.Close(), 0u);
  ASSERT_EQ(set.AddCounter(kA), 0u);
  // Collect on a closed set passes the closed marker on and fetches nothing.
  EXPECT_EQ(set.Collect(), kPdhInvalidHandle);
  EXPECT_EQ(perf.Calls(), (std::vector<std::string>{"collect"}));
  EXPECT_EQ(set.CounterAt(0)->Value(ValueKind::Last), 0.0);
}

TEST_F(PerfCounterTest, CounterAddedToAClosedSetJoinsTheNextQuery) {
  PerfCounterSet set(&perf);
  EXPECT_EQ(set.AddCounter(kA), 0u);
  EXPECT_EQ(set.CounterCount(), 1);
  EXPECT_FALSE(set.CounterAt(0)->IsAdded());
  EXPECT_TRUE(perf.Calls().empty());

  ASSERT_EQ(set.Open(), 0u);
  EXPECT_TRUE(set.CounterAt(0)->IsAdded());
  EXPECT_EQ(perf.Calls(), (std::vector<std::string>{"open", "add " + kA}));

  // Closing keeps the counter in the set; the next query takes it again.
  EXPECT_EQ(set.Close(), 0u);
  EXPECT_FALSE(set.CounterAt(0)->IsAdded());
  EXPECT_EQ(perf.LiveCounters(), 0);
  ASSERT_EQ(set.Open(), 0u);
  EXPECT_TRUE(set.CounterAt(0)->IsAdded());
  EXPECT_EQ(set.CounterCount(), 1);
}

TEST_F(PerfCounterTest, OpenStopsAtTheFirstCounterThatCannotBeAdded) {
  PerfCounterSet set(&perf);
  for (const auto& path : {kA, kB, kC}) ASSERT_EQ(set.AddCounter(path), 0u);
  perf.FailAdd(kB, kPdhCstatusNoInstance);
  EXPECT_EQ(set.Open(), kPdhCstatusNoInstance);
  EXPECT_TRUE(set.IsOpen());
  EXPECT_TRUE(set.CounterAt(0)->IsAdded());
  EXPECT_FALSE(set.CounterAt(1)->IsAdded());
  EXPECT_FALSE(set.CounterAt(2)->IsAdded());
  EXPECT_EQ(set.CounterCount(), 3);
}

TEST_F(PerfCounterTest, CounterThatCannotBeAddedToAnOpenSetIsDropped) {
  PerfCounterSet set(&perf);
  ASSERT_EQ(set.Open(), 0u);
  EXPECT_EQ(set.AddCounter("\\\\PC1\\Print Queue(Z)\\Total Pages Printed"), kPdhCstatusNoCounter);
  EXPECT_EQ(set.CounterCount(), 0);
  EXPECT_EQ(set.AddCounter(kA), 0u);
  EXPECT_EQ(set.CounterCount(), 1);
  EXPECT_EQ(set.CounterAt(-1), nullptr);
  EXPECT_EQ(set.CounterAt(1), nullptr);
}

TEST_F(PerfCounterTest, FailedOpenLeavesTheSetClosed) {
  PerfCounterSet set(&perf);
  perf.FailOpen(kBroken);
  EXPECT_EQ(set.Open(), kBroken);
  EXPECT_FALSE(set.IsOpen());
}

TEST_F(PerfCounterTest, FailedCollectTouchesNoCounter) {
  PerfCounterSet set(&perf);
  ASSERT_EQ(set.AddCounter(kA), 0u);
  ASSERT_EQ(set.Open(), 0u);
  CollectAt(set, kA, 5);
  perf.FailCollect(kBroken);
  perf.SetValue(kA, 9);
  EXPECT_EQ(set.Collect(), kBroken);
  EXPECT_EQ(set.CounterAt(0)->Value(ValueKind::Last), 5.0);
  EXPECT_EQ(set.CounterAt(0)->sampleCount, 1u);
}

TEST_F(PerfCounterTest, CollectResetsACounterWhoseFetchFails) {
  PerfCounterSet set(&perf);
  ASSERT_EQ(set.AddCounter(kA), 0u);
  ASSERT_EQ(set.AddCounter(kB), 0u);
  ASSERT_EQ(set.Open(), 0u);
  CollectAt(set, kA, 7);
  CollectAt(set, kA, 8);
  perf.FailFormatted(kA, kPdhInvalidData);
  EXPECT_EQ(set.Collect(), 0u) << "single fetches' statuses are hidden";
  PerfCounter& a = *set.CounterAt(0);
  EXPECT_EQ(a.Value(ValueKind::Last), 0.0);
  EXPECT_EQ(a.statistics.min.CStatus, kPdhCstatusInvalidData);
  EXPECT_EQ(a.statistics.mean.CStatus, kPdhCstatusInvalidData);
  EXPECT_EQ(a.sampleCount, 0u);
  EXPECT_EQ(a.firstIndex, 0u);
  EXPECT_EQ(a.nextIndex, 0u);
  EXPECT_EQ(set.CounterAt(1)->sampleCount, 3u) << "the other counter went on";
}

TEST_F(PerfCounterTest, StatisticsCoverTheLatest3600Samples) {
  PerfCounterSet set(&perf);
  ASSERT_EQ(set.AddCounter(kA), 0u);
  ASSERT_EQ(set.Open(), 0u);
  PerfCounter& counter = *set.CounterAt(0);
  for (int i = 1; i <= 3599; ++i) CollectAt(set, kA, i);
  EXPECT_EQ(LastStatisticsCall(), "statistics 0 3599");
  EXPECT_EQ(counter.sampleCount, 3599u);
  EXPECT_EQ(counter.nextIndex, 3599u);

  CollectAt(set, kA, 3600);  // fills the ring
  EXPECT_EQ(LastStatisticsCall(), "statistics 0 3600");
  EXPECT_EQ(counter.Value(ValueKind::Minimum), 1.0);
  EXPECT_EQ(counter.Value(ValueKind::Maximum), 3600.0);
  EXPECT_EQ(counter.Value(ValueKind::Mean), 1800.5);
  EXPECT_EQ(counter.sampleCount, 3599u);
  EXPECT_EQ(counter.firstIndex, 1u);
  EXPECT_EQ(counter.nextIndex, 0u);

  CollectAt(set, kA, 3601);  // replaces the oldest
  EXPECT_EQ(LastStatisticsCall(), "statistics 1 3600");
  EXPECT_EQ(counter.rawSamples[0].FirstValue, 3601);
  EXPECT_EQ(counter.Value(ValueKind::Minimum), 2.0);
  EXPECT_EQ(counter.Value(ValueKind::Maximum), 3601.0);
  EXPECT_EQ(counter.firstIndex, 2u);
  EXPECT_EQ(counter.nextIndex, 1u);

  for (int i = 3602; i <= 7201; ++i) CollectAt(set, kA, i);
  EXPECT_EQ(LastStatisticsCall(), "statistics 1 3600") << "wrapped all the way round";
  EXPECT_EQ(counter.Value(ValueKind::Minimum), 3602.0);
  EXPECT_EQ(counter.Value(ValueKind::Last), 7201.0);
  EXPECT_EQ(counter.sampleCount, 3599u);
}

TEST_F(PerfCounterTest, FailedStatisticsKeepTheIndicesButTheNewLastValue) {
  PerfCounterSet set(&perf);
  ASSERT_EQ(set.AddCounter(kA), 0u);
  ASSERT_EQ(set.Open(), 0u);
  PerfCounter& counter = *set.CounterAt(0);
  for (int i = 1; i <= 3; ++i) CollectAt(set, kA, i * 10);
  perf.FailStatistics(kA, kBroken);
  perf.SetValue(kA, 40);
  ASSERT_EQ(perf.CollectQueryData(set.queryHandle), 0u);
  EXPECT_EQ(counter.Fetch(), kBroken);
  EXPECT_EQ(counter.Value(ValueKind::Last), 40.0);
  EXPECT_EQ(counter.Value(ValueKind::Maximum), 30.0) << "statistics of the last success";
  EXPECT_EQ(counter.sampleCount, 3u);
  EXPECT_EQ(counter.firstIndex, 0u);
  EXPECT_EQ(counter.nextIndex, 3u);

  // The sample written by the failed fetch is overwritten by the next one.
  perf.FailStatistics(kA, 0);
  CollectAt(set, kA, 50);
  EXPECT_EQ(counter.rawSamples[3].FirstValue, 50);
  EXPECT_EQ(LastStatisticsCall(), "statistics 0 4");
  EXPECT_EQ(counter.Value(ValueKind::Mean), 27.5);
}

TEST_F(PerfCounterTest, FetchThatFailsEarlyKeepsOrSetsTheLastValue) {
  PerfCounterSet set(&perf);
  ASSERT_EQ(set.AddCounter(kA), 0u);
  ASSERT_EQ(set.Open(), 0u);
  PerfCounter& counter = *set.CounterAt(0);
  CollectAt(set, kA, 11);

  perf.SetValue(kA, 12);
  ASSERT_EQ(perf.CollectQueryData(set.queryHandle), 0u);
  perf.FailFormatted(kA, kPdhInvalidData);
  EXPECT_EQ(counter.Fetch(), kPdhInvalidData);
  EXPECT_EQ(counter.Value(ValueKind::Last), 11.0) << "outside Collect nothing is reset";

  perf.FailFormatted(kA, 0);
  perf.FailRaw(kA, kBroken);
  EXPECT_EQ(counter.Fetch(), kBroken);
  EXPECT_EQ(counter.Value(ValueKind::Last), 12.0);
  EXPECT_EQ(counter.sampleCount, 1u);
}

TEST_F(PerfCounterTest, ValueKindsAndANeverFetchedCounter) {
  PerfCounter counter(&perf, kA);
  for (int kind = -1; kind <= 4; ++kind) {
    EXPECT_EQ(counter.Value(static_cast<ValueKind>(kind)), 0.0) << kind;
  }
  EXPECT_EQ(counter.statistics.max.CStatus, kPdhCstatusInvalidData);
  EXPECT_EQ(counter.RemoveFromQuery(), 0u);
  EXPECT_TRUE(perf.Calls().empty());

  PerfCounterSet set(&perf);
  ASSERT_EQ(set.AddCounter(kA), 0u);
  ASSERT_EQ(set.Open(), 0u);
  CollectAt(set, kA, 4);
  CollectAt(set, kA, 8);
  EXPECT_EQ(set.CounterAt(0)->Value(static_cast<ValueKind>(4)), 0.0);
  EXPECT_EQ(set.CounterAt(0)->Value(ValueKind::Mean), 6.0);
}

TEST_F(PerfCounterTest, DestroyingOrReplacingASetReleasesItsQueryAndCounters) {
  {
    PerfCounterSet set(&perf);
    ASSERT_EQ(set.AddCounter(kA), 0u);
    ASSERT_EQ(set.AddCounter(kB), 0u);
    ASSERT_EQ(set.Open(), 0u);
    EXPECT_EQ(perf.OpenQueries(), 1);
    EXPECT_EQ(perf.LiveCounters(), 2);

    set = PerfCounterSet(&perf);
    EXPECT_EQ(perf.OpenQueries(), 0);
    EXPECT_EQ(perf.LiveCounters(), 0);
    EXPECT_EQ(set.CounterCount(), 0);
    EXPECT_FALSE(set.IsOpen());
    ASSERT_EQ(set.AddCounter(kC), 0u);
    ASSERT_EQ(set.Open(), 0u);
  }
  EXPECT_EQ(perf.OpenQueries(), 0);
  EXPECT_EQ(perf.LiveCounters(), 0);
}

TEST_F(PerfCounterTest, AddingACounterAgainMovesItToTheNewQuery) {
  PerfCounterSet first(&perf);
  ASSERT_EQ(first.Open(), 0u);
  PerfCounter counter(&perf, kA);
  ASSERT_EQ(counter.AddToQuery(first.queryHandle), 0u);
  ASSERT_EQ(counter.AddToQuery(first.queryHandle), 0u);
  EXPECT_EQ(perf.LiveCounters(), 1) << "the earlier handle was removed first";
  EXPECT_EQ(counter.RemoveFromQuery(), 0u);
  EXPECT_EQ(counter.RemoveFromQuery(), 0u);
  EXPECT_EQ(perf.LiveCounters(), 0);
}

}  // namespace
}  // namespace pelko
