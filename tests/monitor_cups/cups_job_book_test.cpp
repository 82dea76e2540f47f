// What the CUPS spooler keeps of a queue between fetches, fed with made-up
// Get-Jobs answers: which jobs are told ended, once each, and how the page
// counter follows the jobs' counts.
#include "agent/platform/posix/cups/cups_job_book.h"

#include <cups/ipp.h>
#include <gtest/gtest.h>

#include <vector>

namespace pelko {
namespace {

CupsJob Job(uint32_t id, int state, uint32_t pages, const char* uuid = "") {
  CupsJob job;
  job.id = id;
  job.uuid = uuid[0] != '\0' ? uuid : "urn:uuid:" + std::to_string(id);
  job.user = "ann";
  job.title = "doc " + std::to_string(id);
  job.state = state;
  job.pages = pages;
  return job;
}
CupsJob Printing(uint32_t id, uint32_t pages, const char* uuid = "") {
  return Job(id, IPP_JSTATE_PROCESSING, pages, uuid);
}
CupsJob Done(uint32_t id, uint32_t pages, const char* uuid = "") {
  return Job(id, IPP_JSTATE_COMPLETED, pages, uuid);
}

// The ended jobs told since `after`, as "id:pages" each.
std::string Told(const CupsJobBook& book, uint64_t* after) {
  std::vector<SpoolJob> jobs;
  book.EndedAfter(*after, &jobs, after);
  std::string told;
  for (const SpoolJob& job : jobs) {
    EXPECT_EQ(job.state, JobState::kEnded);
    told += (told.empty() ? "" : " ") + std::to_string(job.id) + ":" +
            std::to_string(job.pagesPrinted.value_or(0));
  }
  return told;
}

// A job lost from sight is told with the pages last seen, not as final;
// when CUPS's history then gives its final count, it is told again, once.
TEST(CupsJobBook, FinalCountAfterSightLostIsToldAgainAsFinal) {
  CupsJobBook book;
  book.Begin({Printing(5, 1)}, 4);
  uint64_t told = 0;
  book.Take({}, false, {});
  std::vector<SpoolJob> jobs;
  book.EndedAfter(told, &jobs, &told);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].pagesPrinted, 1u);
  EXPECT_FALSE(jobs[0].exactCounts);

  jobs.clear();
  book.Take({}, true, {Done(5, 6)});
  book.Take({}, true, {Done(5, 6)});
  book.EndedAfter(told, &jobs, &told);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].pagesPrinted, 6u);
  EXPECT_TRUE(jobs[0].exactCounts);
  EXPECT_EQ(book.Total(), 6u);
}

TEST(CupsJobBook, TellsEveryEndedJobOnceWithItsFinalPagesFromItsStartOn) {
  CupsJobBook book;
  book.Begin({Job(9, IPP_JSTATE_HELD, 0)}, 8);
  uint64_t told = 0;
  EXPECT_EQ(book.Floor(), 9u);
  EXPECT_EQ(Told(book, &told), "");

  // Job 7 ended before the start: not told, not counted.
  EXPECT_EQ(book.Take({Printing(10, 2), Job(9, IPP_JSTATE_HELD, 0)}, true, {Done(7, 4)}), 0);
  std::vector<SpoolJob> active = book.Active();
  ASSERT_EQ(active.size(), 2u);
  EXPECT_EQ(active[0].state, JobState::kPrinting);
  EXPECT_EQ(active[0].pagesPrinted, 2u);
  EXPECT_EQ(active[1].state, JobState::kWaiting);
  EXPECT_EQ(book.Total(), 2u);

  // 10 ended; 11 came and went unseen; 9 left with no record at all.
  EXPECT_EQ(book.Take({}, true, {Done(10, 5), Done(11, 3)}), 1);
  EXPECT_EQ(Told(book, &told), "10:5 11:3 9:0");
  EXPECT_EQ(book.Total(), 8u);
  EXPECT_TRUE(book.Empty());
  EXPECT_EQ(book.Floor(), 12u);

  // Asked again, the same history tells nothing new.
  EXPECT_EQ(book.Take({}, true, {Done(10, 5), Done(11, 3)}), 0);
  EXPECT_EQ(Told(book, &told), "");
  EXPECT_EQ(book.Total(), 8u);
}

TEST(CupsJobBook, TheFloorRisesOnlyWithAnAnswerForTheEndedJobs) {
  CupsJobBook book;
  book.Begin({}, 20);
  uint64_t told = 0;
  // 22 is seen; 21 may have come and gone with its push still on the way.
  book.Take({Printing(22, 1)}, false, {});
  EXPECT_EQ(book.Floor(), 21u);
  book.Take({Printing(22, 2)}, false, {});
  EXPECT_EQ(book.Floor(), 21u);
  book.Take({}, true, {Done(21, 2), Done(22, 1)});
  EXPECT_EQ(Told(book, &told), "21:2 22:2");
  EXPECT_EQ(book.Floor(), 23u);
}

TEST(CupsJobBook, NoticesAJobOfTheLastFetchGone) {
  CupsJobBook book;
  book.Begin({Printing(5, 0), Printing(6, 0)}, 4);
  EXPECT_FALSE(book.LostSight({Printing(5, 1), Printing(6, 0), Printing(7, 0)}));
  EXPECT_TRUE(book.LostSight({Printing(6, 0)}));
}

TEST(CupsJobBook, TheCounterKeepsEachJobsHighestCountAndWhatItForgot) {
  CupsJobBook book;
  book.Begin({Printing(30, 3)}, 29);
  EXPECT_EQ(book.Total(), 3u) << "jobs in the queue at the start count in its first reading";
  // A backend may set a job's count lower again.
  book.Take({Printing(30, 2)}, false, {});
  EXPECT_EQ(book.Total(), 3u);
  EXPECT_EQ(book.Active()[0].pagesPrinted, 3u);
  book.Take({Printing(31, 1)}, true, {Done(30, 6)});
  EXPECT_EQ(book.Total(), 7u);
  // 30 is below the floor now: only its sum is kept. Restarted, it counts
  // only what it prints beyond its old count.
  book.Take({Printing(30, 6), Printing(31, 2)}, true, {});
  EXPECT_EQ(book.Total(), 8u);
  book.Take({}, true, {Done(30, 9), Done(31, 2)});
  EXPECT_EQ(book.Total(), 11u);
}

TEST(CupsJobBook, AnIdGivenAgainIsAnotherJob) {
  CupsJobBook book;
  book.Begin({Printing(3, 4, "urn:uuid:a")}, 2);
  // The scheduler's spool was wiped: id 3 is a new job.
  book.Take({Printing(3, 1, "urn:uuid:b")}, false, {});
  EXPECT_EQ(book.Total(), 5u);
  EXPECT_EQ(book.Active()[0].pagesPrinted, 1u);
}

TEST(CupsJobBook, EndedJobsAreKeptUntilEveryWatcherWasTold) {
  CupsJobBook book;
  book.Begin({Printing(40, 0), Printing(41, 0)}, 39);
  book.Take({Printing(41, 0)}, true, {Done(40, 1)});
  uint64_t first = 0;
  uint64_t second = 0;
  EXPECT_EQ(Told(book, &first), "40:1");
  book.Take({}, true, {Done(41, 2)});
  EXPECT_EQ(Told(book, &first), "41:2");
  book.ForgetEndedUpTo(second);
  EXPECT_EQ(Told(book, &second), "40:1 41:2");
  book.ForgetEndedUpTo(first);
  uint64_t late = 0;
  EXPECT_EQ(Told(book, &late), "");
  EXPECT_EQ(late, book.LastSeq());
}

}  // namespace
}  // namespace pelko
