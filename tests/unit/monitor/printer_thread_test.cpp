#include "agent/monitor/printer_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/fakes/fake_env.h"
#include "tests/fakes/fake_ink_meter.h"

namespace pelko {
namespace {

// Keeps what each pass hands to the log instead of writing it; can refuse
// writes, as a held log does.
class RecordingPrinterThread : public PrinterThread {
 public:
  using PrinterThread::PrinterThread;
  ~RecordingPrinterThread() { Stop(); }

  std::vector<JobRecord> records;
  bool logHeld = false;
  int attempts = 0;

  std::map<int32_t, int32_t> PagesByJob() const {
    std::map<int32_t, int32_t> pages;
    for (const JobRecord& r : records) pages[r.jobId] += r.pages;
    return pages;
  }
  int32_t PagesInAll() const {
    int32_t sum = 0;
    for (const JobRecord& r : records) sum += r.pages;
    return sum;
  }

 protected:
  bool Record(const JobRecord& figures) override {
    ++attempts;
    if (logHeld) return false;
    records.push_back(figures);
    return true;
  }
};

class PrinterThreadTest : public ::testing::Test {
 protected:
  PrinterThreadTest() {
    fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
    fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 1);
    fake.registry.PutString("SOFTWARE\\Pelko\\Printer1", "HP");
    fake.registry.PutDword("SOFTWARE\\Pelko\\Printer1Cost", 5);
    fake.spooler.SetJobs("HP", {});
    thread.SetPrinterName("HP");
    // Printing that happens while a pass waits for the counter: the n-th
    // reading of the counter (from 1) first runs duringWait[n].
    fake.spooler.onTotal = [this](const std::string&) {
      auto step = duringWait.find(++readings);
      if (step != duringWait.end()) step->second();
    };
  }

  // Runs the thread body on this thread: its start, then `looks` looks.
  void RunLooks(int looks) {
    int seen = 0;
    fake.spooler.onList = [&, looks](const std::string&) {
      if (++seen > looks + 1) throw WorkerStopping{};  // the start lists too
    };
    EXPECT_THROW(thread.Run(), WorkerStopping);
    fake.spooler.onList = nullptr;
  }
  // One look of an already started thread, with the passes it makes.
  void Look() { thread.Look(); }
  void Start() {
    RunLooks(0);
    readings = 0;
    startTotal = thread.LastPageTotal();
  }

  // Whatever happened, no page was credited twice and none was dropped: the
  // entries add up to the counter's rise.
  void TearDown() override {
    if (!startTotal || thread.PendingJobs() != 0) return;
    EXPECT_EQ(static_cast<uint32_t>(thread.PagesInAll()), thread.LastPageTotal() - *startTotal);
  }

  // Asked only where colour has a price of its own or details are logged.
  const Env& WithInkMeter() {
    fake.env.inkMeter = &meter;
    return fake.env;
  }

  FakeEnv fake;
  FakeInkMeter meter;
  LogLocks locks;
  RecordingPrinterThread thread{WithInkMeter(), locks};
  std::map<int, std::function<void()>> duringWait;
  int readings = 0;
  std::optional<uint32_t> startTotal;
};

TEST_F(PrinterThreadTest, EmptyQueueIsLookedAtEvery20msWithoutRegistryOrCounter) {
  fake.spooler.SetTotal("HP", 100);
  RunLooks(0);  // the start looks for pages a run before left pending
  const int readsBefore = fake.registry.reads;
  RunLooks(5);
  EXPECT_EQ(thread.LastPageTotal(), 100u) << "initial reading";
  EXPECT_EQ(fake.clock.Waits(), (std::vector<uint32_t>{20, 20, 20, 20, 20}));
  EXPECT_EQ(fake.registry.reads, readsBefore);
  const auto calls = fake.spooler.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "total HP"), 2) << "the initial readings only";
  EXPECT_TRUE(thread.records.empty());
}

TEST_F(PrinterThreadTest, AMeasureThatComesWhilePricesCannotBeReadIsKeptForLater) {
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer1ColorCost", 50);
  meter.SetPages("HP", 7, {PageInk{}, PageInk{0.2, 0.0, 0.0, 0.1}});
  FakeJob job{7, "paul", "Flyer.pdf"};
  job.details.printerColor = true;
  fake.spooler.Submit("HP", job);
  meter.Hold();
  Start();
  fake.spooler.Print("HP", 7, 2);
  Look();  // entered as colour, as a job that leaves the mode to the printer
  ASSERT_EQ(thread.records.size(), 1u);
  EXPECT_EQ(thread.records[0].cost, 100);
  // The answer waits while the agent is switched off, then corrects the bill.
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 0);
  meter.Release();
  for (int i = 0; i < 1000 && !thread.MeasuresReady(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(thread.MeasuresReady());
  Look();
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  Look();
  int32_t cost = 0;
  for (const JobRecord& r : thread.records) cost += r.cost;
  EXPECT_EQ(cost, 55) << "one page of two is mono";
  EXPECT_EQ(thread.records.back().colorFrom, "document");
}

// CUPS makes a job before its document arrives: a measure asked then finds
// nothing, and the job would be priced by its asked mode for good.
TEST_F(PrinterThreadTest, AJobIsMeasuredOnceItsDocumentsAreIn) {
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer1ColorCost", 50);
  meter.SetPages("HP", 7, {PageInk{}, PageInk{}});
  FakeJob job{7, "paul", "Notes.pdf"};
  job.details.printerColor = true;
  job.documentsIncoming = true;
  fake.spooler.Submit("HP", job);
  Start();
  Look();
  EXPECT_EQ(meter.Calls(), 0);
  fake.spooler.DocumentsIn("HP", 7);
  Look();
  for (int i = 0; i < 1000 && !thread.MeasuresReady(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  fake.spooler.Print("HP", 7, 2);
  Look();
  ASSERT_FALSE(thread.records.empty());
  EXPECT_EQ(thread.records.back().pages, 2);
  EXPECT_EQ(thread.records.back().cost, 10) << "both pages are mono";
  EXPECT_EQ(thread.records.back().colorFrom, "document");
}

TEST_F(PrinterThreadTest, PagesPrintedBeforeTheStartAreNobodysToClaim) {
  fake.spooler.Submit("HP", {7, "paul", "Report.doc"});
  fake.spooler.Print("HP", 7, 4);
  fake.spooler.SetTotal("HP", 104);
  Start();
  fake.spooler.Print("HP", 7, 3);
  Look();
  ASSERT_EQ(thread.records.size(), 1u);
  EXPECT_EQ(thread.records[0].jobId, 7);
  EXPECT_EQ(thread.records[0].userName, "paul");
  EXPECT_EQ(thread.records[0].documentName, "Report.doc");
  EXPECT_EQ(thread.records[0].pages, 3);
  EXPECT_EQ(thread.records[0].cost, 15);
  EXPECT_EQ(thread.LastPageTotal(), 107u);
}

TEST_F(PrinterThreadTest, FirstCountOfAJobFromBeforeTheStartClaimsNothingOfItsPast) {
  // A spooler that tells no count until some job has printed since the
  // start: job 7's first count, 6, holds 4 pages from before the baseline.
  fake.spooler.Submit("HP", {7});
  fake.spooler.Print("HP", 7, 4);
  fake.spooler.SetTotal("HP", 4);
  fake.spooler.CountNoJobPages("HP");
  Start();
  fake.spooler.CountPagesAgain("HP");
  fake.spooler.Print("HP", 7, 2);
  Look();
  EXPECT_EQ(thread.PagesByJob()[7], 2);
}

TEST_F(PrinterThreadTest, EachPassCreditsTheJobsThatPrintedNotTheJobOfThePass) {
  // Two jobs waiting; only the second prints, during the first job's pass.
  Start();
  fake.spooler.Submit("HP", {7, "anna", "first"});
  fake.spooler.Submit("HP", {8, "paul", "second"});
  duringWait[1] = [&] { fake.spooler.Print("HP", 8, 5); };
  duringWait[2] = [&] { fake.spooler.Print("HP", 7, 2); };
  Look();
  EXPECT_EQ(thread.PagesByJob(), (std::map<int32_t, int32_t>{{7, 2}, {8, 5}}));
  EXPECT_EQ(thread.records.size(), 4u) << "the pass's own job is entered too, with nothing";
  EXPECT_EQ(thread.PagesInAll(), 7);
  for (const JobRecord& r : thread.records) EXPECT_EQ(r.cost, r.pages * 5);
}

TEST_F(PrinterThreadTest, JobThatComesAndGoesBetweenLooksGetsItsEntry) {
  Start();
  fake.spooler.Submit("HP", {9, "eve", "quick.pdf"});
  fake.spooler.Print("HP", 9, 2);
  fake.spooler.Print("HP", 9, 2);  // two copies of two pages
  fake.spooler.End("HP", 9);
  fake.spooler.Submit("HP", {10, "eve", "cancelled.pdf"});
  fake.spooler.End("HP", 10);
  Look();
  ASSERT_EQ(thread.records.size(), 2u);
  EXPECT_EQ(thread.records[0].jobId, 9);
  EXPECT_EQ(thread.records[0].userName, "eve");
  EXPECT_EQ(thread.records[0].pages, 4);
  EXPECT_EQ(thread.records[0].cost, 20);
  EXPECT_EQ(thread.records[1].jobId, 10);
  EXPECT_EQ(thread.records[1].pages, 0);
  EXPECT_EQ(fake.clock.Waits(), (std::vector<uint32_t>{2000})) << "one pass enters both";
  Look();
  EXPECT_EQ(thread.records.size(), 2u) << "told once, entered once";
}

TEST_F(PrinterThreadTest, JobsThatComeAndGoDuringAnotherJobsPassAreNotLost) {
  Start();
  fake.spooler.Submit("HP", {1, "anna", "long"});
  duringWait[1] = [&] {
    fake.spooler.Print("HP", 1, 1);
    fake.spooler.Submit("HP", {2, "bob", "short"});
    fake.spooler.Print("HP", 2, 3);
    fake.spooler.End("HP", 2);
    fake.spooler.Submit("HP", {3, "carl", "cancelled"});
    fake.spooler.End("HP", 3);
  };
  Look();
  EXPECT_EQ(thread.PagesByJob(), (std::map<int32_t, int32_t>{{1, 1}, {2, 3}, {3, 0}}));
  EXPECT_EQ(thread.PagesInAll(), 4);
}

TEST_F(PrinterThreadTest, RiseNoJobAccountsForGoesToTheJobLastSeenPrinting) {
  Start();
  fake.spooler.Submit("HP", {1});
  fake.spooler.Submit("HP", {2});
  fake.spooler.Print("HP", 2, 1);
  duringWait[1] = [&] { fake.spooler.SetTotal("HP", fake.spooler.Total("HP") + 4); };
  Look();
  // Job 2 printed 1 page by its own count and was seen printing: the 4 the
  // counter rose by beyond that are its too, not job 1's, whose pass it was.
  EXPECT_EQ(thread.PagesByJob()[2], 5);
  EXPECT_EQ(thread.PagesByJob()[1], 0);
  // Its own count catching up later gives it nothing twice.
  fake.spooler.Print("HP", 2, 0);
  duringWait.clear();
  Look();
  EXPECT_EQ(thread.PagesInAll(), 5);
}

TEST_F(PrinterThreadTest, CountsAheadOfTheCounterWaitForIt) {
  Start();
  fake.spooler.Submit("HP", {1});
  fake.spooler.Print("HP", 1, 6);
  fake.spooler.SetTotal("HP", 4);  // the counter lags: 4 of the 6 so far
  Look();
  EXPECT_EQ(thread.PagesInAll(), 4) << "never more than the counter rose by";
  fake.spooler.SetTotal("HP", 6);
  Look();
  EXPECT_EQ(thread.PagesByJob()[1], 6);
}

// Seen on Windows with ten queues printing: the counter was read just
// before the last pages of a queue's last job, and its listing just after.
TEST_F(PrinterThreadTest, LastJobOfAQueueGetsThePagesTheCounterShowedLate) {
  Start();
  fake.spooler.Submit("HP", {1});
  fake.spooler.Print("HP", 1, 9);
  fake.spooler.End("HP", 1);
  fake.spooler.SetTotal("HP", 3);
  Look();
  EXPECT_EQ(thread.PagesByJob()[1], 3);
  fake.spooler.SetTotal("HP", 9);
  Look();  // the queue is empty: no job in it brings a pass
  EXPECT_EQ(thread.PagesByJob()[1], 9);
  const std::size_t records = thread.records.size();
  Look();
  EXPECT_EQ(thread.records.size(), records) << "nothing owed: no more passes";
}

// The lump seen on a busy print server: jobs that ended while the counter,
// read by another fetch, did not show their pages yet.
TEST_F(PrinterThreadTest, EndedJobsGetTheirFinalCountsThoughTheCounterLags) {
  fake.spooler.CountFinalPages("HP");
  Start();
  for (uint32_t id : {1u, 2u}) {
    fake.spooler.Submit("HP", {id});
    fake.spooler.Print("HP", id, 5 * id);
    fake.spooler.End("HP", id);
  }
  fake.spooler.SetTotal("HP", 0);
  Look();
  EXPECT_EQ(thread.PagesByJob(), (std::map<int32_t, int32_t>{{1, 5}, {2, 10}}))
      << "no later pass may come: the queue is idle";
  // The counter catches up and a job prints: it gets its own pages only.
  fake.spooler.SetTotal("HP", 15);
  fake.spooler.Submit("HP", {3});
  fake.spooler.Print("HP", 3, 4);
  fake.spooler.End("HP", 3);
  Look();
  EXPECT_EQ(thread.PagesByJob(), (std::map<int32_t, int32_t>{{1, 5}, {2, 10}, {3, 4}}));
  EXPECT_EQ(thread.PagesInAll(), 19);
}

TEST_F(PrinterThreadTest, SpoolerWithoutPerJobPagesKeepsThePassRule) {
  fake.spooler.CountNoJobPages("HP");
  Start();
  fake.spooler.Submit("HP", {7});
  fake.spooler.Submit("HP", {8});
  fake.spooler.SetTotal("HP", 3);
  duringWait[2] = [&] { fake.spooler.SetTotal("HP", 8); };
  Look();
  // A rise seen by the first pass belongs to the first job.
  EXPECT_EQ(thread.PagesByJob(), (std::map<int32_t, int32_t>{{7, 3}, {8, 5}}));
}

// A spooler restarted while the agent ran: its counter begins again.
TEST_F(PrinterThreadTest, AFallenCounterCountsOnFromWhereItFell) {
  fake.spooler.SetTotal("HP", 100);
  Start();
  fake.spooler.Submit("HP", {7});
  fake.spooler.CountNoJobPages("HP");
  for (uint32_t value : {90u, 99u, 104u}) {
    fake.spooler.SetTotal("HP", value);
    Look();
  }
  ASSERT_EQ(thread.records.size(), 3u);
  EXPECT_EQ(thread.records[0].pages, 0);
  EXPECT_EQ(thread.records[1].pages, 9);
  EXPECT_EQ(thread.records[2].pages, 5);
  EXPECT_EQ(thread.LastPageTotal(), 104u);
  startTotal.reset();  // the pages are those counted since it began again
}

TEST_F(PrinterThreadTest, CounterThatCannotBeReadCreditsNothingUntilItCan) {
  Start();
  fake.spooler.Submit("HP", {7});
  fake.spooler.Print("HP", 7, 3);
  fake.spooler.FailTotals({SpoolStatus::kUnavailable});
  Look();
  EXPECT_EQ(thread.PagesInAll(), 0);
  Look();
  EXPECT_EQ(thread.PagesInAll(), 3);
}

TEST_F(PrinterThreadTest, QueueThatCannotBeListedIsReportedOnceByItsCause) {
  Start();
  fake.spooler.RemoveQueue("HP");
  for (int i = 0; i < 5; ++i) Look();
  EXPECT_TRUE(thread.records.empty());
  EXPECT_EQ(fake.logger.Count("printer \"HP\": cannot list its queue"), 1);
  EXPECT_EQ(fake.logger.KindOf("the spooler has no such queue"), EventKind::kQueueUnreadable);
  // A spooler away has an ID of its own, and is said though the missing
  // printer was said within the window.
  fake.spooler.FailLists(SpoolStatus::kUnavailable);
  for (int i = 0; i < 3; ++i) Look();
  EXPECT_EQ(fake.logger.Count("printer \"HP\": cannot list its queue"), 2);
  EXPECT_EQ(fake.logger.KindOf("the spooler does not answer"), EventKind::kSpoolerUnreachable);
}

TEST_F(PrinterThreadTest, AppNotRunningRecordsNothingAndReadsNoCounter) {
  Start();
  fake.spooler.Submit("HP", {7});
  fake.spooler.ClearCalls();
  for (uint32_t value : {0u, 2u}) {
    fake.registry.PutDword("Software\\Pelko\\AppIsRunning", value);
    Look();
  }
  EXPECT_TRUE(thread.records.empty());
  EXPECT_EQ(fake.spooler.Calls(), (std::vector<std::string>{"list HP", "list HP"}));
  EXPECT_TRUE(fake.clock.Waits().empty());
}

TEST_F(PrinterThreadTest, CostPerPageComesFromTheHighestMatchingIndex) {
  Start();
  fake.spooler.Submit("HP", {7});
  fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 4);
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer2", "hp");  // the case counts
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer2Cost", 100);
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer3", "HP");
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer3Cost", 7);
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer5", "HP");  // beyond nPrinters
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer5Cost", 1000);
  fake.spooler.Print("HP", 7, 2);
  Look();
  ASSERT_EQ(thread.records.size(), 1u);
  EXPECT_EQ(thread.records[0].cost, 14);
}

TEST_F(PrinterThreadTest, UnconfiguredNameOrMissingCostPricesAtZero) {
  thread.SetPrinterName("\\\\srv\\Lab");
  fake.spooler.SetJobs("\\\\srv\\Lab", {});
  Start();
  fake.spooler.Submit("\\\\srv\\Lab", {9});
  fake.spooler.Print("\\\\srv\\Lab", 9, 3);
  Look();
  // The index -1 makes the value name Printer-1Cost.
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer-1Cost", 2);
  fake.spooler.Print("\\\\srv\\Lab", 9, 1);
  Look();
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer1", "\\\\srv\\Lab");
  fake.registry.Remove("SOFTWARE\\Pelko\\Printer1Cost");
  fake.spooler.Print("\\\\srv\\Lab", 9, 2);
  Look();
  ASSERT_EQ(thread.records.size(), 3u);
  EXPECT_EQ(thread.records[0].cost, 0);
  EXPECT_EQ(thread.records[1].cost, 2);
  EXPECT_EQ(thread.records[2].pages, 2);
  EXPECT_EQ(thread.records[2].cost, 0);
}

TEST_F(PrinterThreadTest, PassIsStampedWhenItBeginsAndWaitsForTheCounter) {
  Start();
  fake.clock.SetNow(LocalTime{2026, 12, 6, 23, 59, 59, 500});
  fake.spooler.Submit("HP", {7});
  Look();
  ASSERT_EQ(thread.records.size(), 1u);
  EXPECT_EQ(thread.records[0].stamp.day, 6);
  EXPECT_EQ(fake.clock.Waits(), (std::vector<uint32_t>{2000}));
  EXPECT_EQ(fake.clock.Now().day, 7);
}

TEST_F(PrinterThreadTest, PagesOfAHeldLogStayPendingUntilAWriteSucceeds) {
  Start();
  fake.spooler.Submit("HP", {7, "paul", "a"});
  fake.spooler.Print("HP", 7, 3);
  thread.logHeld = true;
  Look();
  fake.spooler.Print("HP", 7, 2);
  Look();
  EXPECT_TRUE(thread.records.empty());
  EXPECT_EQ(thread.PendingJobs(), 1u);
  EXPECT_EQ(fake.logger.Count("job 7 could not be entered"), 1);
  EXPECT_EQ(fake.logger.KindOf("job 7 could not be entered"), EventKind::kPagesPending);

  thread.logHeld = false;
  fake.spooler.End("HP", 7);
  fake.clock.Sleep(kPendingRetryMs);
  Look();
  ASSERT_EQ(thread.records.size(), 1u);
  EXPECT_EQ(thread.records[0].pages, 5);
  EXPECT_EQ(thread.records[0].cost, 25);
  EXPECT_EQ(thread.PendingJobs(), 0u);
}

TEST_F(PrinterThreadTest, HeldLogCostsOneRefusedWritePerRoundNotOnePerJob) {
  Start();
  thread.logHeld = true;
  for (uint32_t id = 1; id <= 20; ++id) {
    fake.spooler.Submit("HP", {id});
    fake.spooler.Print("HP", id, 1);
    fake.spooler.End("HP", id);
  }
  Look();
  EXPECT_EQ(thread.PendingJobs(), 20u);
  EXPECT_EQ(thread.attempts, 2) << "the pass's writes, then the retry";
  thread.logHeld = false;
  fake.clock.Sleep(kPendingRetryMs);
  Look();
  EXPECT_EQ(thread.PendingJobs(), 0u);
  EXPECT_EQ(thread.PagesInAll(), 20);
}

TEST_F(PrinterThreadTest, PendingPagesSurviveAStopAndARestart) {
  Start();
  fake.spooler.Submit("HP", {7});
  fake.spooler.Print("HP", 7, 3);
  thread.logHeld = true;
  Look();
  fake.spooler.End("HP", 7);
  thread.logHeld = false;
  RunLooks(60);  // a restart, and looks that find the queue empty
  EXPECT_EQ(thread.PagesByJob()[7], 3) << "written by a retry within a second";
}

// A blocked daily log once kept its pages only in memory: after a restart
// of the agent 3 of 4 jobs (9 pages) were lost. They wait on disk now, and
// the file goes once they are written.
TEST_F(PrinterThreadTest, PendingPagesSurviveARestartOfTheAgent) {
  fake.registry.PutString("Software\\Pelko\\Path", "C:\\Pelko");
  fake.files.AddFolder("C:\\Pelko\\Logs");
  const std::string file = "C:\\Pelko\\Logs\\HP.pending";
  Start();
  thread.logHeld = true;
  for (uint32_t id = 1; id <= 4; ++id) {
    fake.spooler.Submit("HP", {id, "anna\tx", "a\nb<c>"});
    fake.spooler.Print("HP", id, id == 1 ? 1 : 3);
    fake.spooler.End("HP", id);
    Look();
  }
  ASSERT_EQ(thread.PendingJobs(), 4u);
  ASSERT_TRUE(fake.files.Text(file).has_value());

  RecordingPrinterThread restarted{fake.env, locks};
  restarted.SetPrinterName("HP");
  int seen = 0;
  fake.spooler.onList = [&](const std::string&) {
    if (++seen > 61) throw WorkerStopping{};
  };
  EXPECT_THROW(restarted.Run(), WorkerStopping);
  fake.spooler.onList = nullptr;
  EXPECT_EQ(restarted.PagesInAll(), 10);
  EXPECT_EQ(restarted.PagesByJob()[4], 3);
  ASSERT_EQ(restarted.records.size(), 4u);
  EXPECT_EQ(restarted.records[0].userName, "annax");
  EXPECT_EQ(restarted.records[0].cost, 5);
  EXPECT_EQ(restarted.PendingJobs(), 0u);
  EXPECT_FALSE(fake.files.Text(file).has_value());
  startTotal.reset();  // the first thread's pages went to the second
}

TEST_F(PrinterThreadTest, QuietQueueSleepsAsLongAsTheSpoolerVouchesForIt) {
  fake.spooler.SetQuiet("HP", 980);
  int signalsDuringRun = -1;
  int seen = 0;
  fake.spooler.onList = [&](const std::string&) {
    signalsDuringRun = fake.spooler.ChangeSignals("HP");
    if (++seen > 3) throw WorkerStopping{};
  };
  EXPECT_THROW(thread.Run(), WorkerStopping);
  // Each look: the pause, the sleep, a check for a stop.
  EXPECT_EQ(fake.clock.Waits(), (std::vector<uint32_t>{20, 980, 0, 20, 980, 0}));
  EXPECT_EQ(signalsDuringRun, 1);
  EXPECT_EQ(fake.spooler.ChangeSignals("HP"), 0) << "removed when the run ends";

  // Pages waiting for a log held open: the sleep ends when they are due.
  fake.spooler.SetQuiet("HP", 30000);
  fake.spooler.SetJobs("HP", {{7}});
  thread.logHeld = true;
  seen = 0;
  fake.spooler.onList = [&](const std::string&) {
    if (++seen == 3) fake.spooler.End("HP", 7);
    if (seen > 6) throw WorkerStopping{};
  };
  const std::size_t before = fake.clock.Waits().size();
  EXPECT_THROW(thread.Run(), WorkerStopping);
  ASSERT_GT(thread.PendingJobs(), 0u);
  const auto all = fake.clock.Waits();
  const std::vector<uint32_t> waits(all.begin() + static_cast<long>(before), all.end());
  EXPECT_EQ(std::count(waits.begin(), waits.end(), 30000u), 0);
  EXPECT_GE(std::count(waits.begin(), waits.end(), kPendingRetryMs), 1);
}

// Many jobs of several users printing at once, in every interleaving the
// passes can meet: whatever the order, each job gets exactly what it
// printed, and the entries add up to the counter's rise.
TEST_F(PrinterThreadTest, ConcurrentPrintingEveryJobGetsExactlyItsPages) {
  Start();
  std::map<int32_t, int32_t> printed;
  uint32_t next = 100;
  auto busy = [&] {
    // Two jobs arrive, one prints a few pages, one that printed ends.
    for (int k = 0; k < 2; ++k) fake.spooler.Submit("HP", {next++, "u", "d"});
    const uint32_t id = next - 1 - (readings % 3);
    const uint32_t pages = 1 + (readings * 7) % 5;
    fake.spooler.Print("HP", id, pages);
    printed[static_cast<int32_t>(id)] += static_cast<int32_t>(pages);
    if (readings % 2 == 0) fake.spooler.End("HP", next - 2);
  };
  fake.spooler.onTotal = [&](const std::string&) {
    ++readings;
    if (readings < 40) busy();
  };
  for (int i = 0; i < 40 && thread.PagesInAll() < 1000; ++i) Look();
  for (uint32_t id = 100; id < next; ++id) fake.spooler.End("HP", id);
  Look();
  Look();
  auto got = thread.PagesByJob();
  std::erase_if(got, [](const auto& item) { return item.second == 0; });
  EXPECT_EQ(got, printed);
  EXPECT_EQ(static_cast<uint32_t>(thread.PagesInAll()), fake.spooler.Total("HP"));
}

// On a real thread: a change ends the sleep at once, and so does a stop.
TEST(PrinterThreadSleep, ChangeOrStopEndsTheSleep) {
  FakeEnv fake(false);
  fake.env.threads = &PlatformThreads();
  LogLocks locks;
  fake.spooler.SetJobs("HP", {});
  fake.spooler.SetQuiet("HP", 60000);
  std::atomic<int> lists{0};
  fake.spooler.onList = [&](const std::string&) { ++lists; };
  PrinterThread thread(fake.env, locks);
  thread.SetPrinterName("HP");
  thread.Start();

  ASSERT_TRUE(fake.clock.WaitForWaits(1));  // the 20 ms pause
  fake.clock.Advance(20);
  ASSERT_TRUE(fake.clock.WaitForWaits(2));  // asleep
  EXPECT_EQ(lists.load(), 2) << "the start's listing and one look";
  fake.spooler.Change("HP");
  ASSERT_TRUE(fake.clock.WaitForWaits(4));  // looked again, in the next pause
  EXPECT_EQ(lists.load(), 3) << "without any time passing";
  fake.clock.Advance(20);
  ASSERT_TRUE(fake.clock.WaitForWaits(5));

  const auto before = std::chrono::steady_clock::now();
  thread.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(kStopGraceMs / 2));
  EXPECT_EQ(thread.ExitCode(), 0xFFFFFFFFu) << "ended by the stop, not terminated";
  EXPECT_EQ(fake.spooler.ChangeSignals("HP"), 0);
}

// Through the real log writer, into the fake file system: one entry per
// job, its pages added pass by pass, and a held log that delays the entry
// without losing its pages.
TEST(PrinterThreadLog, JobKeepsItsPagesAcrossPassesAndAHeldLog) {
  FakeEnv fake;
  LogLocks locks;
  fake.registry.PutString("Software\\Pelko\\Path", "C:\\Pelko");
  fake.files.AddFolder("C:\\Pelko\\Logs");
  fake.clock.SetNow(LocalTime{2026, 12, 6, 9, 5, 3, 0});
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 1);
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer1", "\\\\SRV\\LaserJet");
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer1Cost", 5);
  const std::string queue = "\\\\SRV\\LaserJet";
  const std::string log = "C:\\Pelko\\Logs\\LaserJet_20261206.xml";
  fake.spooler.SetJobs(queue, {{7, "paul", "a<b>&c'd\"e"}});

  PrinterThread thread(fake.env, locks);
  thread.SetPrinterName(queue);
  int looks = 0;
  fake.spooler.onList = [&](const std::string&) {
    ++looks;
    if (looks == 3) fake.spooler.Print(queue, 7, 3);
    if (looks == 5) fake.files.Hold(log);
    if (looks == 6) fake.spooler.Print(queue, 7, 2);
    if (looks == 9) fake.files.Release(log);
    if (looks > 12) throw WorkerStopping{};
  };
  EXPECT_THROW(thread.Run(), WorkerStopping);

  const auto text = fake.files.Text(log);
  ASSERT_TRUE(text.has_value());
  EXPECT_NE(text->find("<time>09:05:03</time> <id>7</id><user>paul</user> "
                       "<printer>\\\\SRV\\LaserJet</printer><doc>abcde</doc> "
                       "<pages>5</pages> <cost>25</cost></entry>"),
            std::string::npos)
      << *text;
  EXPECT_NE(text->find("<entry><user>Total</user><cost>25</cost></entry></log>"),
            std::string::npos);
  EXPECT_EQ(text->find("<id>7</id>", text->find("<id>7</id>") + 1), std::string::npos)
      << "one entry for the job";
}

}  // namespace
}  // namespace pelko
