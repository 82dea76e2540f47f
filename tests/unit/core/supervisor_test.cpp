#include "agent/core/supervisor.h"

#include <gtest/gtest.h>

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
  int Running(WorkerThread& worker) { return fake.threads.Running(&worker); }
  int RunningPrinters() {
    int n = 0;
    for (auto& slot : Sup().printerSlots) n += Running(slot);
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
  EXPECT_FALSE(Sup().printersStarted);
}

TEST_F(SupervisorTest, StartsOnePrinterThreadPerConfiguredPrinter) {
  Configure(1, 3);
  Sup().Cycle();
  EXPECT_TRUE(Sup().printersStarted);
  EXPECT_EQ(Running(Sup().printerSlots[0]), 0);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(Running(Sup().printerSlots[i]), 1) << i;
    EXPECT_EQ(Sup().printerSlots[i].printerName, "Queue" + std::to_string(i));
  }
  EXPECT_EQ(RunningPrinters(), 3);
  Sup().Cycle();
  EXPECT_EQ(fake.threads.creates, 3) << "a steady configuration starts nothing more";
}

TEST_F(SupervisorTest, MissingPrinterNameStartsWithEmptyName) {
  Configure(1, 2);
  fake.registry.Remove("SOFTWARE\\Pelko\\Printer2");
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().printerSlots[2]), 1);
  EXPECT_EQ(Sup().printerSlots[2].printerName, "");
}

TEST_F(SupervisorTest, ModificationRestartsPrintersWithFreshNamesAndCount) {
  Configure(1, 3);
  Sup().Cycle();
  fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 2);
  fake.registry.PutString("SOFTWARE\\Pelko\\Printer1", "Renamed");
  fake.registry.PutDword("SOFTWARE\\Pelko\\IsModified", 1);
  Sup().Cycle();
  EXPECT_EQ(fake.registry.Dword("SOFTWARE\\Pelko\\IsModified"), 0u);
  EXPECT_EQ(Running(Sup().printerSlots[3]), 0) << "stopped up to the count held before";
  EXPECT_EQ(Running(Sup().printerSlots[1]), 1);
  EXPECT_EQ(Running(Sup().printerSlots[2]), 1);
  EXPECT_EQ(Sup().printerSlots[1].printerName, "Renamed");
  EXPECT_EQ(fake.threads.Started(&Sup().printerSlots[1]), 2);
  EXPECT_EQ(fake.threads.Started(&Sup().printerSlots[3]), 1);
}

TEST_F(SupervisorTest, ModificationLeavesMailAndPurgeAlone) {
  Configure(1, 1);
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  fake.registry.PutDword("SOFTWARE\\Pelko\\IsModified", 5);
  Sup().Cycle();
  EXPECT_EQ(fake.threads.Started(&Sup().emailThread), 1);
  EXPECT_EQ(fake.threads.Started(&Sup().purgeThread), 1);
  EXPECT_EQ(Running(Sup().emailThread), 1);
}

TEST_F(SupervisorTest, FailedResetOfTheFlagRestartsAgainNextCycle) {
  Configure(1, 1);
  Sup().Cycle();
  fake.registry.PutDword("SOFTWARE\\Pelko\\IsModified", 1);
  fake.registry.failWrites = true;
  Sup().Cycle();
  Sup().Cycle();
  EXPECT_EQ(fake.threads.Started(&Sup().printerSlots[1]), 3);
  fake.registry.failWrites = false;
  Sup().Cycle();
  Sup().Cycle();
  EXPECT_EQ(fake.threads.Started(&Sup().printerSlots[1]), 4);
  EXPECT_EQ(RunningPrinters(), 1);
}

TEST_F(SupervisorTest, RunSwitchOffStopsPrintersOnly) {
  Configure(1, 2);
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().emailThread), 1);
  EXPECT_EQ(Running(Sup().purgeThread), 1);
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 0);
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 0);
  EXPECT_FALSE(Sup().printersStarted);
  EXPECT_EQ(Running(Sup().emailThread), 1);
  EXPECT_EQ(Running(Sup().purgeThread), 1);
}

TEST_F(SupervisorTest, MailWaitsForTheRunSwitch) {
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  Sup().Cycle();
  Sup().Cycle();
  EXPECT_EQ(fake.threads.creates, 0);
  EXPECT_FALSE(Sup().emailStarted);
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().emailThread), 1);
  EXPECT_TRUE(Sup().emailStarted);
  EXPECT_EQ(Running(Sup().purgeThread), 0);
}

TEST_F(SupervisorTest, OwnSwitchOffStopsMailAndPurge) {
  Configure(1, 0);
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 0);
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().emailThread), 0);
  EXPECT_EQ(Running(Sup().purgeThread), 1);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 3);  // not 1 is off
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().purgeThread), 0);
}

TEST_F(SupervisorTest, RunSwitchTwoStopsEverything) {
  Configure(1, 2);
  fake.registry.PutDword("Software\\Pelko\\EmailAlert", 1);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 2);
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 0);
  EXPECT_EQ(Running(Sup().emailThread), 0);
  EXPECT_EQ(Running(Sup().purgeThread), 0);
  for (int i = 0; i < 3; ++i) Sup().Cycle();
  EXPECT_EQ(fake.threads.creates, 4) << "stays stopped while the switch is 2";
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 2);
  EXPECT_EQ(Running(Sup().emailThread), 1);
  EXPECT_EQ(Running(Sup().purgeThread), 1);
}

TEST_F(SupervisorTest, CountZeroStillCountsAsStarted) {
  Configure(1, 0);
  fake.registry.PutDword("Software\\Pelko\\DeleteOldLogs", 1);
  Sup().Cycle();
  EXPECT_TRUE(Sup().printersStarted);
  EXPECT_EQ(RunningPrinters(), 0);
  EXPECT_EQ(Running(Sup().purgeThread), 1);
  EXPECT_EQ(Running(Sup().emailThread), 0);
}

TEST_F(SupervisorTest, PrintersFromFiftyOnHaveNoSlot) {
  Configure(1, 60);
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 49);
  EXPECT_EQ(Running(Sup().printerSlots[0]), 0);
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
  EXPECT_EQ(Running(Sup().printerSlots[3]), 1) << "above the count read now";
  fake.registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 3);
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  Sup().Cycle();
  EXPECT_EQ(Running(Sup().printerSlots[3]), 1);
  EXPECT_EQ(fake.threads.Started(&Sup().printerSlots[3]), 2);
}

TEST_F(SupervisorTest, FailedThreadCreationGoesUnnoticed) {
  Configure(1, 1);
  fake.threads.failCreate = true;
  Sup().Cycle();
  EXPECT_TRUE(Sup().printersStarted);
  EXPECT_FALSE(Sup().printerSlots[1].IsStarted());
  fake.threads.failCreate = false;
  Sup().Cycle();
  EXPECT_EQ(RunningPrinters(), 0) << "not retried until the switch changes";
}

TEST_F(SupervisorTest, WorkerThatEndedByItselfIsNotRestarted) {
  Configure(1, 1);
  Sup().Cycle();
  fake.threads.Finish(&Sup().printerSlots[1], kStillActive);
  Sup().Cycle();
  EXPECT_EQ(fake.threads.Started(&Sup().printerSlots[1]), 1);
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
  EXPECT_EQ(supervisor.exitCode, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace pelko
