#include "agent/core/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace pelko {
namespace {

Env RealEnv() {
  Env env;
  env.clock = &PlatformClock();
  env.threads = &PlatformThreads();
  return env;
}

bool Eventually(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Counts its runs and then waits in long pauses, as every worker does.
class PausingWorker : public WorkerThread {
 public:
  using WorkerThread::WorkerThread;
  ~PausingWorker() { Stop(); }
  uint32_t Run(uint32_t argument) override {
    lastArgument = argument;
    ++runs;
    for (;;) {
      Pause(60000);
      ++wakeups;
    }
  }
  std::atomic<int> runs{0};
  std::atomic<int> wakeups{0};
  std::atomic<uint32_t> lastArgument{99};
};

class ReturningWorker : public WorkerThread {
 public:
  using WorkerThread::WorkerThread;
  ~ReturningWorker() { Stop(); }
  void BeforeRun() override { order += "b"; }
  uint32_t Run(uint32_t) override {
    order += "r";
    return 7;
  }
  void AfterRun() override {
    order += "a";
    done = true;
  }
  std::string order;
  std::atomic<bool> done{false};
};

// Busy for a while before its first pause.
class BusyWorker : public WorkerThread {
 public:
  using WorkerThread::WorkerThread;
  ~BusyWorker() { Stop(); }
  uint32_t Run(uint32_t) override {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(900);
    while (std::chrono::steady_clock::now() < until) ++spins;
    for (;;) Pause(1000);
  }
  std::atomic<long> spins{0};
};

TEST(WorkerThread, StopOnANeverStartedWorkerDoesNothing) {
  PausingWorker worker(RealEnv());
  EXPECT_FALSE(worker.IsStarted());
  EXPECT_EQ(worker.startRoutine, &ThreadEntry);
  worker.Stop();
  EXPECT_FALSE(worker.IsStarted());
  EXPECT_EQ(worker.runs, 0);
}

TEST(WorkerThread, StopEndsARunningWorkerAtItsPause) {
  PausingWorker worker(RealEnv());
  worker.Start();
  EXPECT_TRUE(worker.IsStarted());
  EXPECT_EQ(worker.exitCode, 0xFFFFFFFFu);
  ASSERT_TRUE(Eventually([&] { return worker.runs == 1; }));
  const auto before = std::chrono::steady_clock::now();
  worker.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(StopGraceMs));
  EXPECT_FALSE(worker.IsStarted());
  EXPECT_EQ(worker.exitCode, 0xFFFFFFFFu);
  EXPECT_EQ(worker.wakeups, 0) << "the pause was cut short, not completed";
}

TEST(WorkerThread, WorkerWhoseRunReturnedStillReadsActive) {
  ReturningWorker worker(RealEnv());
  worker.Start();
  ASSERT_TRUE(Eventually([&] { return worker.done.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  worker.Stop();
  EXPECT_EQ(worker.order, "bra");
  EXPECT_EQ(worker.exitCode, kStillActive);
  EXPECT_FALSE(worker.IsStarted());
}

TEST(WorkerThread, RestartsOnTheSameObject) {
  PausingWorker worker(RealEnv());
  for (int round = 1; round <= 3; ++round) {
    worker.runArgument = 42;
    worker.Start();
    EXPECT_EQ(worker.runArgument, 0u);
    EXPECT_EQ(worker.exitCode, 0xFFFFFFFFu);
    ASSERT_TRUE(Eventually([&] { return worker.runs == round; }));
    EXPECT_EQ(worker.lastArgument, 0u);
    worker.Stop();
  }
}

TEST(WorkerThread, StartOnAStartedWorkerNeverRunsTwoThreads) {
  PausingWorker worker(RealEnv());
  worker.Start();
  ASSERT_TRUE(Eventually([&] { return worker.runs == 1; }));
  worker.Start();
  ASSERT_TRUE(Eventually([&] { return worker.runs == 2; }));
  worker.Stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(worker.wakeups, 0);
}

TEST(WorkerThread, AWorkerBusyPastTheGraceNoLongerRunsAfterStop) {
  BusyWorker worker(RealEnv());
  worker.Start();
  ASSERT_TRUE(Eventually([&] { return worker.spins > 0; }));
  worker.Stop();
  const long spins = worker.spins;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(worker.spins, spins);
  EXPECT_FALSE(worker.IsStarted());
}

}  // namespace
}  // namespace pelko
