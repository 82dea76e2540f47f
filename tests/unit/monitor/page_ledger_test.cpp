#include "agent/monitor/page_ledger.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace pelko {
namespace {

SpoolJob Job(uint32_t id, JobState state, std::optional<uint32_t> pages, bool exact) {
  SpoolJob job;
  job.id = id;
  job.user = "u" + std::to_string(id);
  job.document = "d" + std::to_string(id);
  job.state = state;
  job.pagesPrinted = pages;
  job.exactCounts = exact;
  return job;
}

// Counts per job, as CUPS gives them: an ended job's count is final.
SpoolJob Cups(uint32_t id, JobState state, uint32_t pages) { return Job(id, state, pages, true); }
// No count per job at all, as some Windows drivers.
SpoolJob Bare(uint32_t id, JobState state) { return Job(id, state, std::nullopt, false); }

std::map<uint32_t, uint32_t> Pages(const std::vector<PageShare>& shares) {
  std::map<uint32_t, uint32_t> pages;
  for (const PageShare& share : shares) pages[share.id] += share.pages;
  return pages;
}

TEST(PageLedgerTest, FinalCountsAreEntriesWhereverTheCounterStands) {
  PageLedger ledger;
  ledger.Restart({});
  // Both jobs ended before the counter showed any of their pages.
  ledger.Learn({Cups(1, JobState::kEnded, 4), Cups(2, JobState::kEnded, 3)});
  const SpoolJob pass = Cups(1, JobState::kEnded, 4);
  EXPECT_EQ(Pages(ledger.Share(0, pass)), (std::map<uint32_t, uint32_t>{{1, 4}, {2, 3}}));
  // The counter's late rise is theirs already: nobody gets it again.
  ledger.Learn({Cups(3, JobState::kPrinting, 0)});
  EXPECT_EQ(Pages(ledger.Share(7, Cups(3, JobState::kPrinting, 0))),
            (std::map<uint32_t, uint32_t>{{3, 0}}));
  // Pages of the counter no job claimed yet wait for the count that does.
  EXPECT_EQ(Pages(ledger.Share(2, Cups(3, JobState::kPrinting, 0))),
            (std::map<uint32_t, uint32_t>{{3, 0}}));
  ledger.Learn({Cups(3, JobState::kEnded, 2)});
  EXPECT_EQ(Pages(ledger.Share(0, Cups(3, JobState::kEnded, 2))),
            (std::map<uint32_t, uint32_t>{{3, 2}}));
}

TEST(PageLedgerTest, AJobToldAgainAfterItWasSettledGetsOnlyTheDifference) {
  PageLedger ledger;
  ledger.Restart({});
  ledger.Learn({Cups(5, JobState::kPrinting, 2)});
  ledger.Share(2, Cups(5, JobState::kPrinting, 2));
  // Lost from sight with 2 pages: entered with those, then forgotten.
  ledger.Learn({});
  EXPECT_EQ(Pages(ledger.Share(0, Cups(6, JobState::kWaiting, 0))),
            (std::map<uint32_t, uint32_t>{{6, 0}}));
  // The history then tells its final count: 6, of which 2 were entered.
  ledger.Learn({Cups(5, JobState::kEnded, 6)});
  EXPECT_TRUE(ledger.NeedsPass(Cups(5, JobState::kEnded, 6)));
  EXPECT_EQ(Pages(ledger.Share(4, Cups(5, JobState::kEnded, 6)))[5], 4u);
  // Told once more: nothing more is owed, and no pass is needed.
  ledger.Learn({Cups(5, JobState::kEnded, 6)});
  EXPECT_FALSE(ledger.NeedsPass(Cups(5, JobState::kEnded, 6)));
}

TEST(PageLedgerTest, CountsNeverGoBack) {
  PageLedger ledger;
  ledger.Restart({});
  ledger.Learn({Cups(1, JobState::kPrinting, 5)});
  EXPECT_EQ(Pages(ledger.Share(5, Cups(1, JobState::kPrinting, 5)))[1], 5u);
  // A backend that reports less again takes nothing back, and gives nothing.
  ledger.Learn({Cups(1, JobState::kPrinting, 3)});
  EXPECT_EQ(Pages(ledger.Share(0, Cups(1, JobState::kPrinting, 3)))[1], 0u);
  ledger.Learn({Cups(1, JobState::kEnded, 5)});
  EXPECT_EQ(Pages(ledger.Share(0, Cups(1, JobState::kEnded, 5)))[1], 0u);
}

TEST(PageLedgerTest, WithoutCountsPerJobTheRiseGoesToTheJobLastSeenPrinting) {
  PageLedger ledger;
  ledger.Restart({});
  ledger.Learn({Bare(1, JobState::kPrinting), Bare(2, JobState::kWaiting)});
  EXPECT_EQ(Pages(ledger.Share(3, Bare(2, JobState::kWaiting))),
            (std::map<uint32_t, uint32_t>{{1, 3}, {2, 0}}));
  // Job 1 has left and been forgotten; its late pages still go to it.
  ledger.Learn({Bare(2, JobState::kWaiting)});
  ledger.Share(0, Bare(2, JobState::kWaiting));
  EXPECT_EQ(Pages(ledger.Share(2, Bare(2, JobState::kWaiting)))[1], 2u);
  // Where no job was ever seen printing, the pass's own job takes it.
  PageLedger fresh;
  fresh.Restart({});
  fresh.Learn({Bare(9, JobState::kWaiting)});
  EXPECT_EQ(Pages(fresh.Share(4, Bare(9, JobState::kWaiting))),
            (std::map<uint32_t, uint32_t>{{9, 4}}));
}

TEST(PageLedgerTest, AtRestartTheJobsInTheQueueClaimNothingOfTheirPast) {
  PageLedger ledger;
  ledger.Restart({Cups(1, JobState::kPrinting, 10), Cups(2, JobState::kEnded, 4),
                  Bare(3, JobState::kWaiting)});
  ledger.Learn({Cups(1, JobState::kPrinting, 12), Cups(3, JobState::kPrinting, 7)});
  const auto pages = Pages(ledger.Share(2, Cups(1, JobState::kPrinting, 12)));
  EXPECT_EQ(pages.at(1), 2u);                        // only what it printed since
  EXPECT_FALSE(pages.count(2));                      // ended before the start
  EXPECT_EQ(pages.count(3) ? pages.at(3) : 0u, 0u);  // its first count held its past
}

TEST(PageLedgerTest, ABurstBeyondTheTableEntersEveryJobOnceWithItsPages) {
  PageLedger ledger;
  ledger.Restart({});
  constexpr uint32_t kJobs = PageLedger::kMaxJobs + 900;
  std::vector<SpoolJob> ended;
  for (uint32_t id = 1; id <= kJobs; ++id) ended.push_back(Cups(id, JobState::kEnded, id % 7));
  std::map<uint32_t, uint32_t> total;
  std::map<uint32_t, int> entries;
  for (std::size_t from = 0; from < ended.size(); from += 1000) {
    std::vector<SpoolJob> slice(ended.begin() + from,
                                ended.begin() + std::min(ended.size(), from + 1000));
    ledger.Learn(slice);
    for (const PageShare& share : ledger.Share(0, slice.front())) {
      total[share.id] += share.pages;
      ++entries[share.id];
    }
  }
  for (uint32_t id = 1; id <= kJobs; ++id) {
    ASSERT_EQ(total[id], id % 7) << "job " << id;
    ASSERT_EQ(entries[id], 1) << "job " << id;
  }
}

}  // namespace
}  // namespace pelko
