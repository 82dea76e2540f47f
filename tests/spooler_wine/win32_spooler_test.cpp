// The Windows spooler's change notifications, on the stand-in winspool.drv
// beside this program (Wine's own has no queues): an idle queue is vouched
// for until a job change, and its printer thread sleeps meanwhile.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/monitor/printer_thread.h"
#include "agent/platform/spooler.h"
#include "tests/fakes/fake_perf_data.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_system_info.h"

namespace pelko {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct StandIn {
  StandIn() {
    HMODULE module = GetModuleHandleA("winspool.drv");
    setJobs = reinterpret_cast<void (*)(const char*, DWORD)>(
        reinterpret_cast<void*>(GetProcAddress(module, "StandInSetJobs")));
    setSilent = reinterpret_cast<void (*)(const char*, BOOL)>(
        reinterpret_cast<void*>(GetProcAddress(module, "StandInSetSilent")));
    refuse = reinterpret_cast<void (*)(const char*)>(
        reinterpret_cast<void*>(GetProcAddress(module, "StandInRefuseNotifications")));
    enumerations = reinterpret_cast<long (*)(const char*)>(
        reinterpret_cast<void*>(GetProcAddress(module, "StandInEnumerations")));
  }
  bool Loaded() const { return setJobs && setSilent && refuse && enumerations; }
  void (*setJobs)(const char*, DWORD) = nullptr;
  void (*setSilent)(const char*, BOOL) = nullptr;
  void (*refuse)(const char*) = nullptr;
  long (*enumerations)(const char*) = nullptr;
};

// One look, the way the printer thread makes it; the number of jobs.
int Look(const std::string& name) {
  Spooler& spooler = PlatformSpooler();
  PrinterHandle printer = nullptr;
  if (spooler.OpenPrinterA(name, &printer) != 0) return -1;
  uint32_t needed = 0;
  uint32_t returned = 0;
  spooler.EnumJobsA(printer, 0, 0xFFFFFFFF, 1, nullptr, 0, &needed, &returned);
  std::vector<uint8_t> buffer(needed);
  const uint32_t error =
      spooler.EnumJobsA(printer, 0, 0xFFFFFFFF, 1, buffer.data(), needed, &needed, &returned);
  spooler.ClosePrinter(printer);
  return error == 0 ? static_cast<int>(returned) : -1;
}

class Win32Spooler : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(standIn.Loaded()) << "the stand-in winspool.drv"; }
  StandIn standIn;
  Spooler& spooler = PlatformSpooler();
  std::unique_ptr<Signal> changed = PlatformClock().NewSignal();
};

TEST_F(Win32Spooler, IdleQueueIsVouchedForUntilAJobChanges) {
  spooler.AddChangeSignal("Office", changed.get());
  ASSERT_EQ(Look("Office"), 0);
  const uint32_t quiet = spooler.QuietMs("Office");
  EXPECT_GT(quiet, 0u);
  EXPECT_LE(quiet, 1000u) << "looked at again once a second";
  EXPECT_FALSE(changed->Wait(0));

  standIn.setJobs("Office", 1);
  const auto added = SteadyClock::now();
  ASSERT_TRUE(changed->Wait(1000));
  EXPECT_LT(SteadyClock::now() - added, std::chrono::milliseconds(100));
  EXPECT_EQ(spooler.QuietMs("Office"), 0u) << "a change since the last look";
  changed->Reset();
  EXPECT_EQ(Look("Office"), 1);
  EXPECT_EQ(spooler.QuietMs("Office"), 0u) << "a queue with jobs is looked at every tick";

  standIn.setJobs("Office", 0);
  ASSERT_TRUE(changed->Wait(1000)) << "the notification was rearmed";
  changed->Reset();
  ASSERT_EQ(Look("Office"), 0);
  EXPECT_GT(spooler.QuietMs("Office"), 0u);

  spooler.RemoveChangeSignal("Office", changed.get());
  standIn.setJobs("Office", 1);
  EXPECT_FALSE(changed->Wait(200)) << "removed";
  standIn.setJobs("Office", 0);
}

TEST_F(Win32Spooler, QueueWithoutNotificationsIsNeverVouchedFor) {
  standIn.refuse("Plain");
  spooler.AddChangeSignal("Plain", changed.get());
  ASSERT_EQ(Look("Plain"), 0);
  EXPECT_EQ(spooler.QuietMs("Plain"), 0u);
  EXPECT_EQ(spooler.QuietMs("NeverWatched"), 0u);
  spooler.AddChangeSignal("MissingQueue", changed.get());
  EXPECT_EQ(Look("MissingQueue"), -1);
  EXPECT_EQ(spooler.QuietMs("MissingQueue"), 0u);
  spooler.RemoveChangeSignal("Plain", changed.get());
  spooler.RemoveChangeSignal("MissingQueue", changed.get());
}

// A remote spooler that cannot call back: the first job it lists unannounced
// ends the vouching until a notification comes again.
TEST_F(Win32Spooler, UnannouncedJobEndsTheVouchingUntilANotification) {
  spooler.AddChangeSignal("Remote", changed.get());
  ASSERT_EQ(Look("Remote"), 0);
  ASSERT_GT(spooler.QuietMs("Remote"), 0u);
  standIn.setSilent("Remote", TRUE);
  standIn.setJobs("Remote", 1);
  EXPECT_EQ(Look("Remote"), 1);
  standIn.setJobs("Remote", 0);
  EXPECT_EQ(Look("Remote"), 0);
  EXPECT_EQ(spooler.QuietMs("Remote"), 0u) << "empty, but no longer trusted";
  standIn.setSilent("Remote", FALSE);
  standIn.setJobs("Remote", 0);
  ASSERT_TRUE(changed->Wait(1000));
  ASSERT_EQ(Look("Remote"), 0);
  EXPECT_GT(spooler.QuietMs("Remote"), 0u);
  spooler.RemoveChangeSignal("Remote", changed.get());
}

// The printer thread on the real spooler: idle, it looks about once a
// second; a job is looked at within a tick or two of its notification.
TEST(Win32PrinterThread, SleepsOnAnIdleQueueAndWakesForAJob) {
  StandIn standIn;
  ASSERT_TRUE(standIn.Loaded());
  FakeRegistry registry;  // AppIsRunning unset: a pass records nothing
  FakePerfData perf;
  FakeSystemInfo system;
  Env env;
  env.registry = &registry;
  env.clock = &PlatformClock();
  env.threads = &PlatformThreads();
  env.spooler = &PlatformSpooler();
  env.perf = &perf;
  env.system = &system;
  LogLocks locks;
  PrinterThread thread(env, locks);
  thread.printerName = "Idle";
  thread.Start();

  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long before = standIn.enumerations("Idle");
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const long idleLooks = (standIn.enumerations("Idle") - before) / 2;
  EXPECT_LE(idleLooks, 3) << "every 20 ms would be 50";

  const long beforeJob = standIn.enumerations("Idle");
  standIn.setJobs("Idle", 1);
  const auto added = SteadyClock::now();
  while (standIn.enumerations("Idle") == beforeJob &&
         SteadyClock::now() - added < std::chrono::seconds(2)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_LT(SteadyClock::now() - added, std::chrono::milliseconds(100));

  // With jobs in it, the queue is looked at every 20 ms.
  const long busyBefore = standIn.enumerations("Idle");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_GE((standIn.enumerations("Idle") - busyBefore) / 2, 10);

  const auto stopping = SteadyClock::now();
  thread.Stop();
  EXPECT_LT(SteadyClock::now() - stopping, std::chrono::milliseconds(StopGraceMs / 2));
  standIn.setJobs("Idle", 0);
}

}  // namespace
}  // namespace pelko
