#include "agent/monitor/catch_up.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "agent/logs/log_format.h"
#include "agent/monitor/printer_thread.h"
#include "pelkoctl/printer_admin.h"
#include "tests/unit/logs/log_test_fixture.h"

namespace pelko {
namespace {

LocalTime At(int day, int hour, int minute = 0) { return {2026, 12, day, hour, minute, 0, 0}; }

SpoolJob Ended(uint32_t id, uint32_t pages, LocalTime ended,
               std::optional<LocalTime> created = std::nullopt) {
  SpoolJob job;
  job.id = id;
  job.state = JobState::kEnded;
  job.pagesPrinted = pages;
  job.exactCounts = true;
  job.endedAt = ended;
  job.createdAt = created;
  return job;
}

std::map<uint32_t, uint32_t> PagesOf(const std::vector<MissedJob>& missed) {
  std::map<uint32_t, uint32_t> pages;
  for (const MissedJob& job : missed) pages[job.job.id] = job.pages;
  return pages;
}

SpoolJob EndedAs(uint32_t id, int64_t submittedAt, uint32_t pages, LocalTime ended) {
  SpoolJob job = Ended(id, pages, ended);
  job.submittedAt = submittedAt;
  return job;
}

// With no book yet (a first start after an upgrade), the logs decide once.
TEST(MissedJobsTest, WithNoBookTheLogsDecide) {
  EnteredJobs entered;
  entered.since = At(1, 0);
  entered.Add(10, 4, At(6, 12));
  entered.Add(11, 2, At(6, 12));
  const std::vector<SpoolJob> history = {
      Ended(9, 5, At(6, 8)),       // ended before anyone watched: not ours
      Ended(8, 3, At(6, 11, 55)),  // below the mark, ended as it was set
      Ended(10, 4, At(6, 12)),     // entered whole
      Ended(11, 6, At(6, 13)),     // entered while it printed: the rest is missing
      Ended(12, 0, At(6, 14)),     // cancelled before a page: an entry all the same
      Ended(13, 7, At(6, 15)),
  };
  const SeenJobs none;
  EXPECT_EQ(PagesOf(MissedJobs(none, entered, history)),
            (std::map<uint32_t, uint32_t>{{8, 3}, {11, 4}, {12, 0}, {13, 7}}));
  EXPECT_TRUE(MissedJobs(none, EnteredJobs{}, history).empty())
      << "a printer never watched in the kept logs starts from now";
  entered.since = At(6, 14, 30);
  EXPECT_EQ(PagesOf(MissedJobs(none, entered, history)), (std::map<uint32_t, uint32_t>{{13, 7}}))
      << "nothing that ended before the oldest log read";
}

// The book, not the clocks, says which job an entry is: a job it has seen
// is billed what its own entries hold, however far the scheduler's times
// lie from the entries' (a clock off or stepped); one it never saw ended
// unwatched, whatever its id or time, and the entries of another job under
// its id are not its own.
TEST(MissedJobsTest, TheBookNotTheClockSaysWhichJobAnEntryIs) {
  EnteredJobs entered;
  entered.since = At(2, 0);
  auto log = [&](uint32_t id, uint32_t pages, const std::string& day, const std::string& stamp) {
    entered.Add(id, pages, At(6, 0));
    entered.entries.push_back({id, day, stamp, pages});
  };
  log(5, 8, "20261202", "2026/12/02 09:00:00");
  log(5, 3, "20261206", "2026/12/06 09:00:00");
  log(7, 4, "20261206", "2026/12/06 08:00:00");
  log(20, 9, "20261206", "2026/12/06 07:00:00");  // before the book
  SeenJobs book;
  book.MarkKnown();
  book.Add({2, 100}, /*beforeWatch=*/true);
  book.Claim({5, 200}, "20261202", "2026/12/02 09:00:00");
  book.Claim({7, 300}, "20261206", "2026/12/06 08:00:00");
  book.Claim({5, 900}, "20261206", "2026/12/06 09:00:00");  // ids from 1 again
  book.Add({9, 90});
  const std::vector<SpoolJob> history = {
      EndedAs(9, 90, 5, At(1, 12)),  // its log purged since
      EndedAs(2, 100, 6, At(6, 7)),  // before the watch
      EndedAs(5, 200, 8, At(2, 9, 30)),
      EndedAs(7, 300, 4, At(7, 20)),   // a scheduler a day and a half ahead
      EndedAs(5, 900, 5, At(6, 10)),   // entered while it printed: 2 more
      EndedAs(3, 950, 6, At(5, 1)),    // never seen, below every id entered
      EndedAs(20, 960, 2, At(6, 11)),  // never seen; the entry under 20 is another's
  };
  EXPECT_EQ(PagesOf(MissedJobs(book, entered, history)),
            (std::map<uint32_t, uint32_t>{{5, 2}, {3, 6}, {20, 2}}));

  SeenJobs begun;  // no book yet: the logs, less what is claimed, decide
  begun.Claim({5, 200}, "20261202", "2026/12/02 09:00:00");
  EXPECT_EQ(BilledPages(begun, entered, history[4]), 3u);

  SeeEndedJobs(entered, history, MissedJobs(book, entered, history), &book);
  EXPECT_TRUE(book.Find({3, 950}) && !book.Find({3, 950})->beforeWatch);
  EXPECT_EQ(SeenJobs::Decode(book.Encode()).Encode(), book.Encode());
}

// The book is bounded; a job still given entries is not what it forgets.
TEST(SeenJobsTest, AJobGivenANewEntryOutlivesJobsLongQuiet) {
  SeenJobs book;
  book.Claim({1, 10}, "20261201", "2026/12/01 09:00:00");
  for (uint32_t id = 2; id <= SeenJobs::kMaxJobs; ++id) book.Add({id, 100 + id});
  book.Claim({1, 10}, "20261206", "2026/12/06 09:00:00");
  for (uint32_t id = 0; id < 10; ++id) book.Add({90000 + id, 1});
  ASSERT_NE(book.Find({1, 10}), nullptr);
  EXPECT_EQ(book.Find({1, 10})->entries.size(), 2u);
  EXPECT_EQ(book.Find({2, 102}), nullptr) << "the longest quiet goes first";
  EXPECT_EQ(SeenJobs::Decode(book.Encode()).Encode(), book.Encode());
}

// What `pelkoctl add` found ended is never billed, and with no book yet
// every other job is, though the logs hold nothing; a job an earlier
// version's book took for one of before the watch stays so.
TEST(MissedJobsTest, WhatAddFoundEndedIsNeverBilled) {
  EnteredJobs entered;
  entered.since = At(1, 0);
  const WatchStart start{"2026/12/06 09:00:00", {{1, 0}, {3, 0}}};
  const std::vector<SpoolJob> history = {Ended(1, 4, At(6, 8)), Ended(2, 1, At(6, 9)),
                                         Ended(3, 5, At(6, 9, 30))};
  EXPECT_EQ(PagesOf(MissedJobs(SeenJobs{}, entered, history, &start)),
            (std::map<uint32_t, uint32_t>{{2, 1}}));
  SeenJobs earlier;
  earlier.MarkKnown();
  earlier.Add({2, 0}, /*beforeWatch=*/true);
  EXPECT_TRUE(MissedJobs(earlier, entered, history, &start).empty());
  EXPECT_EQ(DecodeWatchStart(EncodeWatchStart(start))->before, start.before);
  EXPECT_FALSE(DecodeWatchStart("2026/12/06 09:00:00\n")) << "not one: the first look decides";
}

TEST(MissedJobsTest, OnlyTheSpoolersFinalCountsAreTaken) {
  EnteredJobs entered;
  entered.Add(1, 1, At(6, 9));
  SpoolJob guessed = Ended(2, 5, At(6, 10));
  guessed.exactCounts = false;
  SpoolJob waiting = Ended(3, 5, At(6, 10));
  waiting.state = JobState::kWaiting;
  EXPECT_TRUE(MissedJobs(SeenJobs{}, entered, {guessed, waiting}).empty());
}

class CatchUpTest : public LogTest {
 protected:
  CatchUpTest() {
    fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
    fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 1);
    fake.registry.PutString("SOFTWARE\\Pelko\\Printer1", "HP");
    fake.registry.PutDword("SOFTWARE\\Pelko\\Printer1Cost", 5);
    fake.spooler.SetJobs("HP", {});
    fake.spooler.CountFinalPages("HP");
  }

  // A run of a printer thread (the agent started, or its threads restarted)
  // that makes `looks` looks and stops.
  void Run(PrinterThread& thread, int looks = 0) {
    int seen = 0;
    fake.spooler.onList = [&](const std::string&) {
      if (++seen > looks + 1) throw WorkerStopping{};
    };
    EXPECT_THROW(thread.Run(), WorkerStopping);
    fake.spooler.onList = nullptr;
  }
  PrinterThread& NewThread() {
    threads.push_back(std::make_unique<PrinterThread>(fake.env, locks));
    threads.back()->SetPrinterName("HP");
    return *threads.back();
  }
  void Print(uint32_t id, uint32_t pages, std::optional<LocalTime> endedAt = std::nullopt) {
    fake.spooler.Print("HP", id, pages);
    if (endedAt) fake.spooler.End("HP", id, endedAt);
  }
  // Pages and cost of every entry in the day's log, by job.
  std::map<uint32_t, std::pair<uint32_t, int>> Entries(const std::string& date = "20261206") {
    std::map<uint32_t, std::pair<uint32_t, int>> found;
    EnteredJobs entered;
    AddLoggedEntries(fake.files.Text(LogPath("HP", date)).value_or(""), "HP", &entered);
    for (const auto& [id, job] : entered.jobs) found[id] = {job.pages, 0};
    const std::string text = fake.files.Text(LogPath("HP", date)).value_or("");
    for (auto& [id, figures] : found) {
      std::size_t at = 0;
      while ((at = text.find("<id>" + std::to_string(id) + "</id>", at)) != std::string::npos) {
        ++figures.second;
        ++at;
      }
    }
    return found;
  }

  std::vector<std::unique_ptr<PrinterThread>> threads;
};

// The agent killed while jobs print; they end, and others come and go,
// before it starts again: each gets its final pages once, also across a
// later restart of the printer threads and of the agent.
TEST_F(CatchUpTest, JobsThatEndedWhileTheAgentWasDownAreEnteredOnce) {
  PrinterThread& first = NewThread();
  Run(first);
  fake.spooler.Submit("HP", {7, "paul", "plan"});
  fake.spooler.Submit("HP", {8, "anna", "memo"});
  Print(7, 3);
  first.Look();
  ASSERT_EQ(Entries()[7], std::make_pair(3u, 1));

  // Down: 7 goes on and ends, 8 prints and ends, 9 comes and goes.
  Print(7, 4, At(6, 9, 1));
  Print(8, 2, At(6, 9, 2));
  fake.spooler.Submit("HP", {9, "eva", "list"});
  Print(9, 6, At(6, 9, 3));
  fake.spooler.Submit("HP", {10, "eva", "late"});
  Print(10, 1);  // still printing at the start

  fake.clock.SetNow(At(6, 10));
  PrinterThread& second = NewThread();
  Run(second);
  auto entries = Entries();
  EXPECT_EQ(entries[7], std::make_pair(7u, 1));
  EXPECT_EQ(entries[8], std::make_pair(2u, 1));
  EXPECT_EQ(entries[9], std::make_pair(6u, 1));
  EXPECT_FALSE(entries.count(10)) << "still printing: its pass enters it";
  EXPECT_NE(fake.files.Text(LogPath("HP")).value_or("").find("<time>09:03:00</time> <id>9</id>"),
            std::string::npos)
      << "dated when it ended";

  // Restarted threads and a restarted agent find nothing more to enter.
  Print(10, 2, At(6, 9, 4));
  Run(second, 2);
  Run(NewThread());
  entries = Entries();
  EXPECT_EQ(entries[7], std::make_pair(7u, 1));
  EXPECT_EQ(entries[9], std::make_pair(6u, 1));
  EXPECT_EQ(entries[10], std::make_pair(3u, 1)) << "its pages from before the start too";
  EXPECT_NE(fake.files.Text(LogPath("HP")).value_or("").find("<pages>7</pages> <cost>35</cost>"),
            std::string::npos)
      << "priced: 7 pages at 5";
}

// Killed before any job of the queue had an entry: its first start marked
// when it began to watch.
TEST_F(CatchUpTest, AQueueWithNoEntryYetLosesNothing) {
  Run(NewThread());
  fake.spooler.Submit("HP", {5});
  Print(5, 3, At(6, 9, 30));
  Run(NewThread());
  EXPECT_EQ(Entries()[5], std::make_pair(3u, 1));
}

// Neither a clock that is off or stepped nor a spooler that numbers from 1
// again makes a job billed twice or to another: restarts after each step
// find nothing more to enter.
TEST_F(CatchUpTest, ClocksDateEntriesButNeverBillTwice) {
  int entriesSeen = 0;
  auto pagesOf = [&](uint32_t id, const std::string& user) {
    uint32_t pages = 0;
    entriesSeen = 0;
    for (const char* date : {"20261206", "20261207"}) {
      const std::string text = fake.files.Text(LogPath("HP", date)).value_or("");
      std::vector<LogEntry> entries;
      ReadLogEntries(text, &entries);
      for (const LogEntry& entry : entries) {
        if (entry.id != std::to_string(id) || entry.user != user) continue;
        pages += EntryPages(entry);
        ++entriesSeen;
      }
    }
    return pages;
  };
  auto submit = [&](uint32_t id, const std::string& user, int64_t submittedAt) {
    FakeJob job(id, user, "doc");
    job.submittedAt = submittedAt;
    fake.spooler.Submit("HP", job);
  };
  auto restartTwice = [&] {
    Run(NewThread());
    Run(NewThread());
  };

  // The agent's clock a day ahead, then put right.
  fake.clock.SetNow(At(7, 9));
  Run(NewThread());
  submit(1, "paul", 1000);
  Print(1, 3, At(6, 9, 5));
  restartTwice();
  fake.clock.SetNow(At(6, 9, 30));
  restartTwice();
  EXPECT_EQ(pagesOf(1, "paul"), 3u);

  // The agent an hour behind the scheduler: its entry looks older than the
  // job; entered while it printed, the rest once it ended.
  PrinterThread& watching = NewThread();
  Run(watching);
  submit(2, "anna", 2000);
  Print(2, 2);
  watching.Look();
  Print(2, 3, At(6, 10, 40));
  restartTwice();
  EXPECT_EQ(pagesOf(2, "anna"), 5u);

  // The spooler's ids start again: job 1 is Doris's now.
  submit(1, "doris", 5000);
  Print(1, 4, At(6, 9, 50));
  restartTwice();
  EXPECT_EQ(pagesOf(1, "doris"), 4u);
  EXPECT_EQ(pagesOf(1, "paul"), 3u);
  // And Anna prints under her old id again: an entry of its own.
  submit(2, "anna", 6000);
  Print(2, 1, At(6, 9, 55));
  restartTwice();
  EXPECT_EQ(pagesOf(2, "anna"), 6u);
  EXPECT_EQ(entriesSeen, 2);
}

// A writer of Logs plants an old mark of when the watch began, as an
// earlier agent kept there, then deletes it while the agent is down: no job
// of before the watch is billed, and none of the down time is lost.
TEST_F(CatchUpTest, NothingInLogsMovesTheMarkOfTheWatch) {
  const std::string mark = "C:\\Pelko\\Logs\\HP.watched";
  fake.clock.SetNow(At(6, 9));
  fake.spooler.Submit("HP", {1, "eva", "old"});
  Print(1, 4, At(6, 8));  // ended before the agent first watched
  Run(NewThread());
  fake.files.PutFile(mark, "2000/01/01 00:00:00");
  fake.spooler.Submit("HP", {2, "paul", "down"});
  Print(2, 3, At(6, 9, 30));
  fake.clock.SetNow(At(6, 10));
  Run(NewThread());
  fake.files.Delete(mark);
  fake.spooler.Submit("HP", {3, "anna", "down again"});
  Print(3, 2, At(6, 10, 30));
  fake.clock.SetNow(At(6, 11));
  Run(NewThread());
  const auto entries = Entries();
  EXPECT_FALSE(entries.count(1)) << "before the watch";
  EXPECT_EQ(entries.at(2), std::make_pair(3u, 1));
  EXPECT_EQ(entries.at(3), std::make_pair(2u, 1));
}

// The administrator's first printer: added, and its test page printed and
// ended before the agent first looks. It is billed once, across restarts
// and a remove and add again; a job that ended before the add is not, nor
// one that ended while the printer was removed.
TEST_F(CatchUpTest, TheTestPageAfterAddIsBilledOnceThoughItEndedBeforeTheFirstLook) {
  ctl::PrinterAdmin admin(fake.env);
  auto watching = [&] {
    std::vector<ctl::PrinterRow> rows;
    admin.List(&rows);
    return rows.empty() ? "none" : rows[0].watching;
  };
  EXPECT_EQ(watching(), "not yet") << "written by hand, never looked at";
  fake.clock.SetNow(At(6, 9));
  fake.spooler.Submit("HP", {1, "eva", "before"});
  Print(1, 4, At(6, 8));
  ASSERT_TRUE(admin.Remove("HP").ok());
  ASSERT_TRUE(admin.Add("HP", 5, false).ok());
  EXPECT_EQ(watching(), "since 2026/12/06 09:00:00");
  fake.spooler.Submit("HP", {2, "root", "test page"});
  Print(2, 1, At(6, 9));
  fake.clock.SetNow(At(6, 9, 1));
  Run(NewThread());
  Run(NewThread());
  EXPECT_FALSE(Entries().count(1)) << "ended before the add";
  EXPECT_EQ(Entries()[2], std::make_pair(1u, 1));

  ASSERT_TRUE(admin.Remove("HP").ok());
  fake.spooler.Submit("HP", {3, "paul", "while removed"});
  Print(3, 2, At(6, 9, 30));
  fake.clock.SetNow(At(6, 9, 40));
  ASSERT_TRUE(admin.Add("HP", 5, false).ok());
  fake.spooler.Submit("HP", {4, "anna", "after"});
  Print(4, 3, At(6, 9, 50));
  Run(NewThread());
  const auto entries = Entries();
  EXPECT_EQ(entries.at(2), std::make_pair(1u, 1)) << "not billed again";
  EXPECT_FALSE(entries.count(3)) << "ended while removed";
  EXPECT_EQ(entries.at(4), std::make_pair(3u, 1));
  EXPECT_EQ(watching(), "since 2026/12/06 09:40:00");
  EXPECT_EQ(LoadSeenJobs(fake.env, "HP").Since(), "2026/12/06 09:01:00") << "its first look";
}

TEST_F(CatchUpTest, AJobEndedYesterdayGoesToYesterdaysLogWhileItIsKept) {
  fake.clock.SetNow(At(4, 9));
  PrinterThread& first = NewThread();
  Run(first);  // watched since the 4th
  fake.clock.SetNow(At(6, 9));
  fake.spooler.Submit("HP", {1});
  Print(1, 1);
  first.Look();  // today's log is made
  fake.clock.SetNow(At(5, 23));
  fake.spooler.Submit("HP", {2});
  Print(2, 1);
  first.Look();  // and yesterday's (the clock went back for the test)
  fake.clock.SetNow(At(6, 9));

  fake.spooler.Submit("HP", {3});
  Print(3, 4, At(5, 23, 30));
  fake.spooler.Submit("HP", {4});
  Print(4, 2, At(4, 23, 30));  // no log of that day: today's
  Run(NewThread());
  EXPECT_EQ(Entries("20261205")[3], std::make_pair(4u, 1));
  EXPECT_EQ(Entries()[4], std::make_pair(2u, 1));
  EXPECT_FALSE(Entries().count(3));
}

// A scheduler that does not answer at the start (or goes away and comes
// back) is asked for its history once it answers again.
TEST_F(CatchUpTest, AHistoryNotToBeHadIsAskedForWhenTheSpoolerAnswersAgain) {
  PrinterThread& first = NewThread();
  Run(first);
  fake.spooler.Submit("HP", {1});
  Print(1, 1);
  first.Look();
  fake.spooler.Submit("HP", {2});
  Print(2, 5, At(6, 9, 5));

  fake.spooler.FailHistory(SpoolStatus::kUnavailable);
  PrinterThread& second = NewThread();
  Run(second);
  EXPECT_FALSE(Entries().count(2));
  const int asked = fake.spooler.HistoryAsked("HP");
  second.Look();
  EXPECT_EQ(fake.spooler.HistoryAsked("HP"), asked)
      << "a struggling spooler is not asked at every look";
  fake.spooler.FailHistory(SpoolStatus::kOk);
  fake.clock.Advance(kCatchUpRetryMs);
  second.Look();
  EXPECT_EQ(Entries()[2], std::make_pair(5u, 1));
  fake.clock.Advance(kCatchUpRetryMs);
  second.Look();
  EXPECT_EQ(fake.spooler.HistoryAsked("HP"), asked + 1) << "once had, not asked again";
}

}  // namespace
}  // namespace pelko
