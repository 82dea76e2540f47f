#include "agent/core/supervisor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>

#include "tests/fakes/fake_env.h"

namespace pelko {
namespace {

class SupervisorTest : public ::testing::Test {
 protected:
  SupervisorTest() : globalPath(fake.registry, "Software\\Pelko\\Path") {}

  void Configure(uint32_t run, uint32_t count) {
    fake.registry.PutDword("Software\\Pelko\\AppIsRunning", run);
    fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", count);
    for (uint32_t i = 1; i <= count; ++i) {
      fake.registry.PutString("SOFTWARE\\Pelko\\Printer" + std::to_string(i),
                              "Queue" + std::to_string(i));
    }
  }
  Supervision& Sup() {
    if (!supervision) supervision = std::make_unique<Supervision>(fake.env, globalPath);
    return *supervision;
  }
  int Running(const WorkerThread& worker) { return fake.threads.Running(&worker); }
  int RunningPrinters() {
    int n = 0;
    for (int i = 0; i < PrinterSlotCount; ++i) n += Running(Sup().PrinterSlot(i));
    return n;
  }

  FakeEnv fake;
  RegistryStringValue globalPath;
  std::unique_ptr<Supervision> supervision;
};

TEST_F(SupervisorTest, NoConfigurationStartsNothing) {
  for (int i = 0; i < 5; ++i) Sup().Cycle();
  EXPECT_EQ(fake.threads.creates, 0);
  EXPECT_EQ(fake.registry.writes, 0);
  EXPECT_FALSE(Sup().PrintersStarted());
}

TEST_F(SupervisorTest, StartsOnePrinterThreadPerConfiguredPrinter) {
  Configure(1, 3);
  Sup().Cycle();
  EXPECT_TRUE(Sup().PrintersStarted());
  EXPECT_EQ(Running(Sup().PrinterSlot(0)), 0);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(Running(Sup().PrinterSlot(i)), 1) << i;
    EXPECT_EQ(Sup().PrinterSlot(i).PrinterName(), "Queue" + std::to_string(i));
  }
  EXPECT_EQ(RunningPrinters(), 3);
  Sup().Cycle();
  EXPECT_EQ(fake.threads.creates, 3) << "a steady configuration starts nothing more";
}

TEST_F(SupervisorTest, MissingPrinterNameStartsWithEmptyName) {
  Configure(1, 2);
  fake.registry.Remove("SOFTWARE\\Pelko\\Printer2");
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().PrinterSlot(2)), 1);
  EXPECT_EQ(Sup().PrinterSlot(2).PrinterName(), "");
}

TEST_F(SupervisorTest, ModificationRestartsPrintersWithFreshNamesAndCount) {
  Configure(1, 3);
  Sup().Cycle();
  fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 2);
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer1", "Renamed");
  fake.registry.PutDword("SOFTWARE\\Pelko\\IsModified", 1);
  Sup().Cycle();
  EXPECT_EQ(fake.registry.Dword("SOFTWARE\\Pelko\\IsModified"), 0u);
  EXPECT_EQ(Running(Sup().PrinterSlot(3)), 0) << "stopped up to the count held before";
  EXPECT_EQ(Running(Sup().PrinterSlot(1)), 1);
  EXPECT_EQ(Running(Sup().PrinterSlot(2)), 1);
  EXPECT_EQ(Sup().PrinterSlot(1).PrinterName(), "Renamed");
  EXPECT_EQ(fake.threads.Started(&Sup().PrinterSlot(1)), 2);
  EXPECT_EQ(fake.threads.Started(&Sup().PrinterSlot(3)), 1);
}

TEST_F(SupervisorTest, ModificationLeavesMailAndPurgeAlone) {
  Configure(1, 1);
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  fake.registry.PutDword("SOFTWARE\\Pelko\\IsModified", 5);
  Sup().Cycle();
  EXPECT_EQ(fake.threads.Started(&Sup().EmailThread()), 1);
  EXPECT_EQ(fake.threads.Started(&Sup().PurgeThread()), 1);
  EXPECT_EQ(Running(Sup().EmailThread()), 1);
}

TEST_F(SupervisorTest, FailedResetOfTheFlagRestartsAgainNextCycle) {
  Configure(1, 1);
  Sup().Cycle();
  fake.registry.PutDword("SOFTWARE\\Pelko\\IsModified", 1);
  fake.registry.failWrites = true;
  Sup().Cycle();
  Sup().Cycle();
  EXPECT_EQ(fake.threads.Started(&Sup().PrinterSlot(1)), 3);
  fake.registry.failWrites = false;
  Sup().Cycle();
  Sup().Cycle();
  EXPECT_EQ(fake.threads.Started(&Sup().PrinterSlot(1)), 4);
  EXPECT_EQ(RunningPrinters(), 1);
}

TEST_F(SupervisorTest, RunSwitchOffStopsPrintersOnly) {
  Configure(1, 2);
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().EmailThread()), 1);
  EXPECT_EQ(Running(Sup().PurgeThread()), 1);
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 0);
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 0);
  EXPECT_FALSE(Sup().PrintersStarted());
  EXPECT_EQ(Running(Sup().EmailThread()), 1);
  EXPECT_EQ(Running(Sup().PurgeThread()), 1);
}

TEST_F(SupervisorTest, MailWaitsForTheRunSwitch) {
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  Sup().Cycle();
  Sup().Cycle();
  EXPECT_EQ(fake.threads.creates, 0);
  EXPECT_FALSE(Sup().EmailStarted());
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().EmailThread()), 1);
  EXPECT_TRUE(Sup().EmailStarted());
  EXPECT_EQ(Running(Sup().PurgeThread()), 0);
}

TEST_F(SupervisorTest, OwnSwitchOffStopsMailAndPurge) {
  Configure(1, 0);
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 0);
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().EmailThread()), 0);
  EXPECT_EQ(Running(Sup().PurgeThread()), 1);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 3);  // not 1 is off
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().PurgeThread()), 0);
}

TEST_F(SupervisorTest, RunSwitchTwoStopsEverything) {
  Configure(1, 2);
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 2);
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 0);
  EXPECT_EQ(Running(Sup().EmailThread()), 0);
  EXPECT_EQ(Running(Sup().PurgeThread()), 0);
  for (int i = 0; i < 3; ++i) Sup().Cycle();
  EXPECT_EQ(fake.threads.creates, 4) << "stays stopped while the switch is 2";
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 2);
  EXPECT_EQ(Running(Sup().EmailThread()), 1);
  EXPECT_EQ(Running(Sup().PurgeThread()), 1);
}

TEST_F(SupervisorTest, CountZeroStillCountsAsStarted) {
  Configure(1, 0);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  EXPECT_TRUE(Sup().PrintersStarted());
  EXPECT_EQ(RunningPrinters(), 0);
  EXPECT_EQ(Running(Sup().PurgeThread()), 1);
  EXPECT_EQ(Running(Sup().EmailThread()), 0);
}

TEST_F(SupervisorTest, PrintersFromFiftyOnHaveNoSlot) {
  Configure(1, 60);
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 49);
  EXPECT_EQ(Running(Sup().PrinterSlot(0)), 0);
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 0);
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 0);
}

TEST_F(SupervisorTest, SlotAboveALoweredCountNeverRunsTwice) {
  Configure(1, 3);
  Sup().Cycle();
  fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 2);  // no IsModified
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 0);
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().PrinterSlot(3)), 1) << "above the count read now";
  fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 3);
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().PrinterSlot(3)), 1);
  EXPECT_EQ(fake.threads.Started(&Sup().PrinterSlot(3)), 2);
}

TEST_F(SupervisorTest, FailedThreadCreationGoesUnnoticed) {
  Configure(1, 1);
  fake.threads.failCreate = true;
  Sup().Cycle();
  EXPECT_TRUE(Sup().PrintersStarted());
  EXPECT_FALSE(Sup().PrinterSlot(1).IsStarted());
  fake.threads.failCreate = false;
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 0) << "not retried until the switch changes";
}

// A log too big to hold: reading it runs out of memory. A worker that never
// reads it ends the test after a few rounds instead of looping for ever.
class HugeFileSystem : public FakeFileSystem {
 public:
  FileStatus ReadText(const std::string& path, std::string* text) override {
    if (path.find("big_") != std::string::npos) throw std::bad_alloc();
    return FakeFileSystem::ReadText(path, text);
  }
  std::unique_ptr<FileSearch> Find(const std::string& pattern) override {
    if (++finds > 100) throw std::logic_error("the big file was never read");
    return FakeFileSystem::Find(pattern);
  }
  int finds = 0;
};

TEST_F(SupervisorTest, WorkerThatFailsIsStartedAgainNextCycleAndSaysWhy) {
  HugeFileSystem files;
  files.AddFolder("C:\\P\\Logs");
  files.PutFile("C:\\P\\Logs\\big_20261206.xml", "<x/>");
  fake.env.files = &files;
  fake.registry.PutString("Software\\Pelko\\Path", "C:\\P");
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  Configure(1, 0);
  Sup().Cycle();
  ASSERT_EQ(Running(Sup().EmailThread()), 1);

  ASSERT_TRUE(fake.threads.RunToEnd(&Sup().EmailThread()));
  EXPECT_EQ(Running(Sup().EmailThread()), 0);
  EXPECT_EQ(fake.logger.Count("the e-mail alert thread failed: std::bad_alloc"), 1);
  EXPECT_EQ(fake.logger.Count("restarted"), 0);

  Sup().Cycle();
  EXPECT_EQ(Running(Sup().EmailThread()), 1);
  EXPECT_EQ(fake.threads.Started(&Sup().EmailThread()), 2);
  EXPECT_EQ(fake.logger.Count("the e-mail alert thread had ended; started it again"), 1);
  EXPECT_EQ(fake.logger.KindOf("thread failed"), EventKind::kWorkerFailed);
  EXPECT_EQ(fake.logger.KindOf("had ended"), EventKind::kWorkerRestarted);
  EXPECT_EQ(fake.threads.Started(&Sup().PurgeThread()), 0) << "only the ended worker";
}

TEST_F(SupervisorTest, EndedPrinterAndPurgeThreadsAreStartedAgain) {
  Configure(1, 2);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  fake.threads.Finish(&Sup().PrinterSlot(2), kStillActive);
  fake.threads.Finish(&Sup().PurgeThread(), kStillActive);
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 2);
  EXPECT_EQ(fake.threads.Started(&Sup().PrinterSlot(1)), 1);
  EXPECT_EQ(fake.threads.Started(&Sup().PrinterSlot(2)), 2);
  EXPECT_EQ(Running(Sup().PurgeThread()), 1);
  EXPECT_EQ(fake.logger.Count("printer thread 2 (\"Queue2\") had ended"), 1);
  EXPECT_EQ(fake.logger.Count("old-log purge thread had ended"), 1);
}

TEST_F(SupervisorTest, WorkerThatKeepsFailingIsStartedOnceACycleAndSaidOnce) {
  Configure(1, 1);
  Sup().Cycle();
  for (int cycle = 0; cycle < 5; ++cycle) {
    fake.threads.Finish(&Sup().PrinterSlot(1), kStillActive);
    Sup().Cycle();
  }
  EXPECT_EQ(fake.threads.Started(&Sup().PrinterSlot(1)), 6);
  EXPECT_EQ(RunningPrinters(), 1);
  EXPECT_EQ(fake.logger.Count("had ended"), 1) << "the rest are counted, not said";
}

TEST_F(SupervisorTest, WorkerStoppedOnPurposeIsNotStartedAgain) {
  Configure(1, 1);
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  Sup().Cycle();
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 0);
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 0);
  Sup().Cycle();
  for (int i = 0; i < 3; ++i) Sup().Cycle();
  EXPECT_EQ(fake.threads.Started(&Sup().EmailThread()), 1);
  EXPECT_EQ(fake.threads.Started(&Sup().PrinterSlot(1)), 1);
  EXPECT_EQ(fake.threads.creates, 2);
  EXPECT_TRUE(fake.logger.Lines().empty());
}

// reg.exe stores a number written without /t as text, which reads as 0:
// accounting stops, and the system log is where that is said.
TEST_F(SupervisorTest, AKnownSettingOfTheWrongTypeIsSaidOnce) {
  Configure(1, 1);
  fake.registry.PutString("Software\\Pelko\\EmailAlertFreq", "60");
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer1Cost", "20");
  for (int i = 0; i < 3; ++i) Sup().Cycle();
  EXPECT_EQ(fake.logger.Count("setting EmailAlertFreq is stored as REG_SZ"), 1);
  EXPECT_EQ(fake.logger.Count("setting Printer1Cost is stored as REG_SZ"), 1);
  EXPECT_EQ(fake.logger.KindOf("setting Printer1Cost"), EventKind::kSettingInvalid);
  EXPECT_EQ(fake.logger.Lines().size(), 2u);
}

TEST_F(SupervisorTest, FailedRestartIsSaid) {
  Configure(1, 1);
  Sup().Cycle();
  fake.threads.Finish(&Sup().PrinterSlot(1), kStillActive);
  fake.threads.failCreate = true;
  Sup().Cycle();
  EXPECT_EQ(fake.logger.Count("had ended; could not start it again"), 1);
  EXPECT_EQ(RunningPrinters(), 0);
}

TEST_F(SupervisorTest, EndingTheSupervisionStopsEveryWorker) {
  Configure(1, 3);
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  Sup().Cycle();
  supervision.reset();
  EXPECT_EQ(fake.threads.terminations, 4) << "fake workers never reach a pause";
}

// The loop itself, on a real thread against a fake clock.
TEST(SupervisorThread, PollsEveryTenSeconds) {
  FakeEnv fake(/*autoAdvanceClock=*/false);
  fake.env.threads = &PlatformThreads();
  RegistryStringValue globalPath(fake.registry, "Software\\Pelko\\Path");
  SupervisorThread supervisor(fake.env, globalPath);
  supervisor.Start();
  ASSERT_TRUE(fake.clock.WaitForSleepers(1));
  const int readsAfterOneCycle = fake.registry.reads;
  EXPECT_GT(readsAfterOneCycle, 0);
  fake.clock.Advance(PollInterval - 1);
  EXPECT_EQ(fake.registry.reads, readsAfterOneCycle);
  fake.clock.Advance(1);
  ASSERT_TRUE(fake.clock.WaitForWaits(2));
  EXPECT_GT(fake.registry.reads, readsAfterOneCycle);
  EXPECT_EQ(fake.clock.Waits(), (std::vector<uint32_t>{PollInterval, PollInterval}));
  supervisor.Stop();
  EXPECT_EQ(supervisor.ExitCode(), 0xFFFFFFFFu);
}

// A registry whose second read of IsModified (the first is made as the
// supervision is built) fails as if memory had run out.
class FailingRegistry : public FakeRegistry {
 public:
  int32_t QueryValue(RegKey key, const std::string& name, uint32_t* type, uint8_t* data,
                     uint32_t* size) override {
    if (name == "IsModified" && ++modificationReads == 2) throw std::bad_alloc();
    return FakeRegistry::QueryValue(key, name, type, data, size);
  }
  std::atomic<int> modificationReads{0};
};

// The supervisor's loop runs on a real thread; the workers it starts are
// only recorded.
TEST(SupervisorThread, OutlivesAFailedCycle) {
  FakeEnv fake(/*autoAdvanceClock=*/false);
  FailingRegistry registry;
  registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  fake.env.registry = &registry;
  RegistryStringValue globalPath(registry, "Software\\Pelko\\Path");
  SupervisorThread supervisor(fake.env, globalPath);
  supervisor.Start();
  std::thread loop([&] { fake.threads.RunToEnd(&supervisor); });
  struct Joiner {
    SupervisorThread& supervisor;
    std::thread& loop;
    ~Joiner() {
      supervisor.Stop();
      loop.join();
    }
  } joiner{supervisor, loop};

  ASSERT_TRUE(fake.clock.WaitForSleepers(1));
  EXPECT_EQ(fake.logger.Count("a supervisor cycle failed: std::bad_alloc"), 1);
  EXPECT_EQ(registry.openKeys, 0) << "the failed cycle's key is closed";
  EXPECT_EQ(fake.threads.creates, 1) << "the supervisor alone";
  fake.clock.Advance(PollInterval);
  ASSERT_TRUE(fake.clock.WaitForWaits(2));
  EXPECT_EQ(fake.threads.creates, 2) << "the next cycle started the purge thread";
}

}  // namespace
}  // namespace pelko
