#include "agent/monitor/printer_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "tests/fakes/fake_env.h"

namespace pelko {
namespace {

const std::string kHpCounter = "\\\\PC1\\Print Queue(HP)\\Total Pages Printed";

struct Recorded {
  int32_t id;
  std::string user;
  std::string document;
  int32_t pages;
  int32_t cost;
  LocalTime stamp;
};

// Keeps what each pass hands to the log instead of writing it.
class RecordingPrinterThread : public PrinterThread {
 public:
  using PrinterThread::PrinterThread;
  ~RecordingPrinterThread() { Stop(); }

  std::vector<Recorded> records;
  std::function<void()> onRecord;

 protected:
  void Record(int32_t jobId, const std::string& userName, const std::string& documentName,
              int32_t pages, int32_t cost, const LocalTime& stamp) override {
    records.push_back({jobId, userName, documentName, pages, cost, stamp});
    if (onRecord) onRecord();
  }
};

class PrinterThreadTest : public ::testing::Test {
 protected:
  PrinterThreadTest() {
    fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
    fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 1);
    fake.registry.PutString("SOFTWARE\\Pelko\\Printer1", "HP");
    fake.registry.PutDword("SOFTWARE\\Pelko\\Printer1Cost", 5);
    thread.printerName = "HP";
    thread.counterPath = kHpCounter;
  }

  // Runs the thread body on this thread until its polls-th poll.
  void RunPolls(int polls) {
    int seen = 0;
    fake.spooler.onOpen = [&](const std::string&) {
      if (++seen > polls) throw WorkerStopping{};
    };
    EXPECT_THROW(thread.Run(0), WorkerStopping);
    fake.spooler.onOpen = nullptr;
  }

  FakeEnv fake;
  LogLocks locks;
  RecordingPrinterThread thread{fake.env, locks};
};

TEST_F(PrinterThreadTest, CounterPathNamesTheQueueAndItsMachine) {
  struct Case {
    std::string printer;
    std::string path;
  } cases[] = {
      {"\\\\srv\\HP", "\\\\srv\\Print Queue(HP)\\Total Pages Printed"},
      {"HP", "\\\\PC1\\Print Queue(HP)\\Total Pages Printed"},
      {"", "\\\\PC1\\Print Queue()\\Total Pages Printed"},
      {"\\\\srv\\sub\\HP 4000", "\\\\srv\\sub\\Print Queue(HP 4000)\\Total Pages Printed"},
  };
  for (const Case& c : cases) {
    thread.printerName = c.printer;
    RunPolls(0);
    EXPECT_EQ(thread.counterPath, c.path) << c.printer;
  }
  EXPECT_EQ(fake.system.calls, 2) << "only local printers ask for the computer name";
  EXPECT_EQ(fake.system.lastSize, 16u);
}

TEST_F(PrinterThreadTest, EmptyQueueIsPolledEvery20msWithoutRegistryOrCounterAccess) {
  fake.spooler.SetJobs("HP", {});
  fake.perf.SetValue(kHpCounter, 100);
  const int readsBefore = fake.registry.reads;
  RunPolls(5);
  EXPECT_EQ(thread.lastPageTotal, 100u) << "initial reading";
  EXPECT_EQ(thread.currentPageTotal, 100u);
  EXPECT_EQ(fake.clock.Waits(), (std::vector<uint32_t>{20, 20, 20, 20, 20}));
  EXPECT_EQ(fake.registry.reads, readsBefore);
  const auto calls = fake.perf.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "collect"), 1) << "the initial reading only";
  EXPECT_TRUE(thread.records.empty());
  EXPECT_EQ(fake.spooler.OpenPrinters(), 0);
}

TEST_F(PrinterThreadTest, CounterUnreadableAtStartLeavesTheTotalsAlone) {
  fake.spooler.SetJobs("HP", {{7, "anna", "a.doc"}});
  thread.lastPageTotal = thread.currentPageTotal = 0;
  thread.onRecord = [&] { fake.perf.SetValue(kHpCounter, 42); };
  RunPolls(2);  // the counter exists from the first pass's record on
  EXPECT_EQ(thread.records.size(), 2u);
  EXPECT_EQ(thread.records[0].pages, 0);
  EXPECT_EQ(thread.records[1].pages, 42) << "the whole counter goes to the first job read";
  EXPECT_EQ(thread.records[1].cost, 210);
  EXPECT_EQ(thread.counters.CounterCount(), 1);
}

TEST_F(PrinterThreadTest, RiseGoesToTheJobAndLaterPassesAddNothing) {
  fake.spooler.SetJobs("HP", {{7, "paul", "Report.doc"}});
  fake.perf.SetValue(kHpCounter, 100);
  RunPolls(0);
  ASSERT_EQ(thread.lastPageTotal, 100u);
  fake.perf.SetValue(kHpCounter, 103);
  thread.PollQueue();
  thread.PollQueue();
  ASSERT_EQ(thread.records.size(), 2u);
  EXPECT_EQ(thread.records[0].id, 7);
  EXPECT_EQ(thread.records[0].user, "paul");
  EXPECT_EQ(thread.records[0].document, "Report.doc");
  EXPECT_EQ(thread.records[0].pages, 3);
  EXPECT_EQ(thread.records[0].cost, 15);
  EXPECT_EQ(thread.records[1].pages, 0);
  EXPECT_EQ(thread.records[1].cost, 0);
  EXPECT_EQ(thread.lastPageTotal, 103u);
  EXPECT_EQ(thread.counters.CounterCount(), 1) << "one counter, whatever the passes";
  EXPECT_EQ(fake.perf.OpenQueries(), 0) << "the query is closed after every reading";
}

TEST_F(PrinterThreadTest, TwoJobsInOnePollEachGetTheirOwnRise) {
  fake.spooler.SetJobs("HP", {{7, "anna", "first"}, {8, "paul", "second"}});
  thread.lastPageTotal = 100;
  fake.perf.SetValue(kHpCounter, 103);
  thread.onRecord = [&] { fake.perf.SetValue(kHpCounter, 108); };
  thread.PollQueue();
  ASSERT_EQ(thread.records.size(), 2u);
  EXPECT_EQ(thread.records[0].id, 7);
  EXPECT_EQ(thread.records[0].pages, 3);
  EXPECT_EQ(thread.records[1].id, 8);
  EXPECT_EQ(thread.records[1].pages, 5);
  EXPECT_EQ(thread.records[1].cost, 25);
}

TEST_F(PrinterThreadTest, FallingCounterAttributesOnlyWhatExceedsTheLastTotal) {
  fake.spooler.SetJobs("HP", {{7}});
  thread.lastPageTotal = 100;
  for (double value : {90.0, 99.0, 104.0}) {
    fake.perf.SetValue(kHpCounter, value);
    thread.PollQueue();
  }
  ASSERT_EQ(thread.records.size(), 3u);
  EXPECT_EQ(thread.records[0].pages, 0);
  EXPECT_EQ(thread.records[1].pages, 0);
  EXPECT_EQ(thread.records[2].pages, 4);
  EXPECT_EQ(thread.lastPageTotal, 104u);
  EXPECT_EQ(thread.currentPageTotal, 104u);
}

TEST_F(PrinterThreadTest, CounterThatCannotBeReadAttributesNothing) {
  fake.spooler.SetJobs("HP", {{7}});
  fake.perf.SetValue(kHpCounter, 103);
  thread.lastPageTotal = 100;
  fake.perf.FailCollect(kPdhNoData);
  thread.PollQueue();
  fake.perf.FailCollect(0);
  fake.perf.FailFormatted(kHpCounter, kPdhInvalidData);
  thread.PollQueue();
  ASSERT_EQ(thread.records.size(), 2u);
  EXPECT_EQ(thread.records[0].pages, 0);
  EXPECT_EQ(thread.records[1].pages, 0);
  EXPECT_EQ(thread.lastPageTotal, 100u);
}

TEST_F(PrinterThreadTest, AppNotRunningRecordsNothingAndReadsNoCounter) {
  fake.spooler.SetJobs("HP", {{7}});
  fake.perf.SetValue(kHpCounter, 103);
  for (uint32_t value : {0u, 2u}) {
    fake.registry.PutDword("Software\\Pelko\\AppIsRunning", value);
    thread.PollQueue();
  }
  fake.registry.Remove("Software\\Pelko\\AppIsRunning");
  thread.PollQueue();
  EXPECT_TRUE(thread.records.empty());
  EXPECT_TRUE(fake.perf.Calls().empty());
  EXPECT_TRUE(fake.clock.Waits().empty());
}

TEST_F(PrinterThreadTest, CostPerPageComesFromTheHighestMatchingIndex) {
  fake.spooler.SetJobs("HP", {{7}});
  fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 4);
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer2", "hp");  // the case counts
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer2Cost", 100);
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer3", "HP");
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer3Cost", 7);
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer5", "HP");  // beyond nPrinters
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer5Cost", 1000);
  fake.perf.SetValue(kHpCounter, 2);
  thread.PollQueue();
  ASSERT_EQ(thread.records.size(), 1u);
  EXPECT_EQ(thread.records[0].cost, 14);
}

TEST_F(PrinterThreadTest, UnconfiguredNameOrMissingCostPricesAtZero) {
  thread.printerName = "\\\\srv\\Lab";
  thread.counterPath = "\\\\srv\\Print Queue(Lab)\\Total Pages Printed";
  fake.spooler.SetJobs("\\\\srv\\Lab", {{9}});
  fake.perf.SetValue(thread.counterPath, 3);
  thread.PollQueue();
  // The index -1 makes the value name Printer-1Cost.
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer-1Cost", 2);
  fake.perf.SetValue(thread.counterPath, 4);
  thread.PollQueue();
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer1", "\\\\srv\\Lab");
  fake.registry.Remove("SOFTWARE\\Pelko\\Printer1Cost");
  fake.perf.SetValue(thread.counterPath, 6);
  thread.PollQueue();
  ASSERT_EQ(thread.records.size(), 3u);
  EXPECT_EQ(thread.records[0].pages, 3);
  EXPECT_EQ(thread.records[0].cost, 0);
  EXPECT_EQ(thread.records[1].pages, 1);
  EXPECT_EQ(thread.records[1].cost, 2);
  EXPECT_EQ(thread.records[2].pages, 2);
  EXPECT_EQ(thread.records[2].cost, 0);
}

TEST_F(PrinterThreadTest, PassIsStampedWhenItBeginsAndWaitsForTheCounter) {
  fake.clock.SetNow(LocalTime{2026, 12, 6, 23, 59, 59, 500});
  fake.spooler.SetJobs("HP", {{7}});
  fake.perf.SetValue(kHpCounter, 1);
  thread.PollQueue();
  ASSERT_EQ(thread.records.size(), 1u);
  EXPECT_EQ(thread.records[0].stamp.day, 6);
  EXPECT_EQ(thread.records[0].stamp.second, 59);
  EXPECT_EQ(fake.clock.Waits(), (std::vector<uint32_t>{2000}));
  EXPECT_EQ(fake.clock.Now().day, 7);
}

TEST_F(PrinterThreadTest, PollSizesTheBufferAndClosesThePrinterBeforeAnyPass) {
  fake.spooler.SetJobs("HP", {{7, "anna", "Budget.xls"}, {8}});
  fake.perf.SetValue(kHpCounter, 0);
  std::vector<std::vector<std::string>> callsAtRecord;
  thread.onRecord = [&] { callsAtRecord.push_back(fake.spooler.Calls()); };
  thread.PollQueue();
  const std::size_t bytes = 2 * sizeof(JobInfo1) + 5 + 11;
  const std::vector<std::string> expected = {"open HP", "enum 0", "enum " + std::to_string(bytes),
                                             "close"};
  ASSERT_EQ(callsAtRecord.size(), 2u);
  EXPECT_EQ(callsAtRecord[0], expected);
  EXPECT_EQ(thread.records[0].document, "Budget.xls");
  EXPECT_EQ(thread.records[1].user, "") << "a text the spooler does not give is empty";
  EXPECT_EQ(thread.records[1].document, "");
}

TEST_F(PrinterThreadTest, FailedEnumerationsCloseThePrinterAndPassNothing) {
  fake.spooler.SetJobs("HP", {{7}});
  fake.perf.SetValue(kHpCounter, 0);

  fake.spooler.FailEnums({kErrorAccessDenied});
  thread.PollQueue();
  EXPECT_EQ(fake.spooler.Calls(), (std::vector<std::string>{"open HP", "enum 0", "close"}));

  // The queue grows between the size query and the enumeration.
  fake.spooler.ClearCalls();
  fake.spooler.afterSizeQuery = [&] {
    fake.spooler.SetJobs("HP", {{7}, {8, "x", "a longer document name"}});
  };
  thread.PollQueue();
  fake.spooler.afterSizeQuery = nullptr;
  EXPECT_EQ(fake.spooler.Calls(),
            (std::vector<std::string>{"open HP", "enum 0",
                                      "enum " + std::to_string(sizeof(JobInfo1)), "close"}));

  fake.spooler.ClearCalls();
  fake.spooler.RemoveQueue("HP");
  thread.PollQueue();
  EXPECT_EQ(fake.spooler.Calls(), (std::vector<std::string>{"open HP"}));

  EXPECT_TRUE(thread.records.empty());
  EXPECT_EQ(fake.spooler.OpenPrinters(), 0);
}

TEST_F(PrinterThreadTest, EmptyQueueNeedsNoBytesAndNoPass) {
  fake.spooler.SetJobs("HP", {});
  thread.PollQueue();
  EXPECT_EQ(fake.spooler.Calls(),
            (std::vector<std::string>{"open HP", "enum 0", "enum 0", "close"}));
  EXPECT_TRUE(fake.perf.Calls().empty());
}

TEST_F(PrinterThreadTest, StopDuringTheCounterWaitClosesTheQuery) {
  fake.perf.SetValue(kHpCounter, 5);
  thread.Start();  // a fake thread: only makes the stop signal count
  thread.RequestStop();
  EXPECT_THROW(thread.ReadPageTotal(CounterWaitMs), WorkerStopping);
  EXPECT_EQ(fake.perf.OpenQueries(), 0);
  EXPECT_EQ(thread.currentPageTotal, 0u);
  thread.Stop();
}

TEST_F(PrinterThreadTest, EveryRunStartsANewCounterSetForItsOwnPrinter) {
  const std::string labCounter = "\\\\PC1\\Print Queue(Lab)\\Total Pages Printed";
  fake.perf.SetValue(kHpCounter, 10);
  fake.perf.SetValue(labCounter, 70);
  RunPolls(0);
  EXPECT_EQ(thread.lastPageTotal, 10u);
  thread.printerName = "Lab";
  RunPolls(0);
  EXPECT_EQ(thread.lastPageTotal, 70u);
  ASSERT_EQ(thread.counters.CounterCount(), 1);
  EXPECT_EQ(thread.counters.CounterAt(0)->path, labCounter);
}

TEST_F(PrinterThreadTest, QuietQueueSleepsAsLongAsTheSpoolerVouchesForIt) {
  fake.spooler.SetJobs("HP", {});
  fake.spooler.SetQuiet("HP", 980);
  int signalsDuringRun = -1;
  int seen = 0;
  fake.spooler.onOpen = [&](const std::string&) {
    signalsDuringRun = fake.spooler.ChangeSignals("HP");
    if (++seen > 2) throw WorkerStopping{};
  };
  EXPECT_THROW(thread.Run(0), WorkerStopping);
  // Each look: the pause, the sleep, a check for a stop.
  EXPECT_EQ(fake.clock.Waits(), (std::vector<uint32_t>{20, 980, 0, 20, 980, 0}));
  EXPECT_EQ(signalsDuringRun, 1);
  EXPECT_EQ(fake.spooler.ChangeSignals("HP"), 0) << "removed when the run ends";
}

// On a real thread: a change ends the sleep at once, and so does a stop.
TEST(PrinterThreadSleep, ChangeOrStopEndsTheSleep) {
  FakeEnv fake(false);
  fake.env.threads = &PlatformThreads();
  LogLocks locks;
  fake.spooler.SetJobs("HP", {});
  fake.spooler.SetQuiet("HP", 60000);
  std::atomic<int> opens{0};
  fake.spooler.onOpen = [&](const std::string&) { ++opens; };
  PrinterThread thread(fake.env, locks);
  thread.printerName = "HP";
  thread.Start();

  ASSERT_TRUE(fake.clock.WaitForWaits(1));  // the 20 ms pause
  fake.clock.Advance(20);
  ASSERT_TRUE(fake.clock.WaitForWaits(2));  // asleep
  EXPECT_EQ(opens.load(), 1);
  fake.spooler.Change("HP");
  ASSERT_TRUE(fake.clock.WaitForWaits(4));  // looked again, in the next pause
  EXPECT_EQ(opens.load(), 2) << "without any time passing";
  fake.clock.Advance(20);
  ASSERT_TRUE(fake.clock.WaitForWaits(5));

  const auto before = std::chrono::steady_clock::now();
  thread.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(StopGraceMs / 2));
  EXPECT_EQ(thread.exitCode, 0xFFFFFFFFu) << "ended by the stop, not terminated";
  EXPECT_EQ(fake.spooler.ChangeSignals("HP"), 0);
}

// Through the real log writer, into the fake file system.
TEST(PrinterThreadLog, JobKeepsItsPagesAcrossLaterPasses) {
  FakeEnv fake;
  LogLocks locks;
  fake.registry.PutString("Software\\Pelko\\Path", "C:\\Pelko");
  fake.files.AddFolder("C:\\Pelko\\Logs");
  fake.clock.SetNow(LocalTime{2026, 12, 6, 9, 5, 3, 0});
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 1);
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer1", "\\\\SRV\\LaserJet");
  fake.registry.PutDword("SOFTWARE\\Pelko\\Printer1Cost", 5);
  const std::string counter = "\\\\SRV\\Print Queue(LaserJet)\\Total Pages Printed";
  fake.perf.SetValue(counter, 100);
  fake.spooler.SetJobs("\\\\SRV\\LaserJet", {{7, "paul", "a<b>&c'd\"e"}});

  PrinterThread thread(fake.env, locks);
  thread.printerName = "\\\\SRV\\LaserJet";
  int polls = 0;
  fake.spooler.onOpen = [&](const std::string&) {
    if (polls == 1) fake.perf.SetValue(counter, 103);
    if (++polls > 4) throw WorkerStopping{};
  };
  EXPECT_THROW(thread.Run(0), WorkerStopping);

  const auto text = fake.files.Text("C:\\Pelko\\Logs\\LaserJet_20261206.xml");
  ASSERT_TRUE(text.has_value());
  EXPECT_NE(text->find("<time>09:05:03</time> <id>7</id><user>paul</user> "
                       "<printer>\\\\SRV\\LaserJet</printer><doc>abcde</doc> "
                       "<pages>3</pages> <cost>15</cost></entry>"),
            std::string::npos)
      << *text;
  EXPECT_NE(text->find("<entry><user>Total</user><cost>15</cost></entry></log>"),
            std::string::npos);
  EXPECT_EQ(text->find("<id>7</id>", text->find("<id>7</id>") + 1), std::string::npos)
      << "one entry for the job";
}

}  // namespace
}  // namespace pelko
