#include "agent/worker/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/fakes/fake_env.h"

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
  void Run() override {
    ++runs;
    for (;;) {
      Pause(60000);
      ++wakeups;
    }
  }
  std::atomic<int> runs{0};
  std::atomic<int> wakeups{0};
};

class ReturningWorker : public WorkerThread {
 public:
  using WorkerThread::WorkerThread;
  ~ReturningWorker() { Stop(); }
  void Run() override {
    order += "r";
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
  void Run() override {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(900);
    while (std::chrono::steady_clock::now() < until) ++spins;
    for (;;) Pause(1000);
  }
  std::atomic<long> spins{0};
};

TEST(WorkerThread, StopOnANeverStartedWorkerDoesNothing) {
  PausingWorker worker(RealEnv());
  EXPECT_FALSE(worker.IsStarted());
  worker.Stop();
  EXPECT_FALSE(worker.IsStarted());
  EXPECT_EQ(worker.runs, 0);
}

TEST(WorkerThread, StopEndsARunningWorkerAtItsPause) {
  PausingWorker worker(RealEnv());
  worker.Start();
  EXPECT_TRUE(worker.IsStarted());
  EXPECT_EQ(worker.ExitCode(), 0xFFFFFFFFu);
  ASSERT_TRUE(Eventually([&] { return worker.runs == 1; }));
  const auto before = std::chrono::steady_clock::now();
  worker.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(kStopGraceMs));
  EXPECT_FALSE(worker.IsStarted());
  EXPECT_EQ(worker.ExitCode(), 0xFFFFFFFFu);
  EXPECT_EQ(worker.wakeups, 0) << "the pause was cut short, not completed";
}

TEST(WorkerThread, WorkerWhoseRunReturnedStillReadsActive) {
  ReturningWorker worker(RealEnv());
  worker.Start();
  ASSERT_TRUE(Eventually([&] { return worker.done.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  worker.Stop();
  EXPECT_EQ(worker.order, "r");
  EXPECT_EQ(worker.ExitCode(), kStillActive);
  EXPECT_FALSE(worker.IsStarted());
}

TEST(WorkerThread, RestartsOnTheSameObject) {
  PausingWorker worker(RealEnv());
  for (int round = 1; round <= 3; ++round) {
    worker.Start();
    EXPECT_EQ(worker.ExitCode(), 0xFFFFFFFFu);
    ASSERT_TRUE(Eventually([&] { return worker.runs == round; }));
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

TEST(WorkerThread, HasEndedOnlyWhileStartedAndItsThreadIsGone) {
  PausingWorker pausing(RealEnv());
  EXPECT_FALSE(pausing.HasEnded()) << "never started";
  pausing.Start();
  ASSERT_TRUE(Eventually([&] { return pausing.runs == 1; }));
  EXPECT_FALSE(pausing.HasEnded());

  ReturningWorker returning(RealEnv());
  returning.Start();
  EXPECT_TRUE(Eventually([&] { return returning.HasEnded(); }));
  returning.Stop();
  EXPECT_FALSE(returning.HasEnded()) << "stopped on purpose";
}

template <typename Thrown>
class ThrowingWorker : public WorkerThread {
 public:
  ThrowingWorker(const Env& env, Thrown thrown) : WorkerThread(env), thrown(thrown) {}
  void Run() override { throw thrown; }
  Thrown thrown;
};

TEST(ThreadEntry, SaysWhatEndedAWorker) {
  FakeEnv fake;
  ThrowingWorker<std::runtime_error> failing(fake.env, std::runtime_error("no room for big.xml"));
  failing.name = "test thread";
  EXPECT_EQ(ThreadEntry(&failing), kStillActive);
  ThrowingWorker<int> odd(fake.env, 42);
  odd.name = "odd thread";
  EXPECT_EQ(ThreadEntry(&odd), kStillActive);
  EXPECT_EQ(fake.logger.Lines(),
            (std::vector<std::string>{"the test thread failed: no room for big.xml",
                                      "the odd thread failed: an exception of unknown kind"}));
}

TEST(ThreadEntry, AStopIsNoFailure) {
  FakeEnv fake;
  ThrowingWorker<WorkerStopping> stopping(fake.env, WorkerStopping{});
  EXPECT_EQ(ThreadEntry(&stopping), 0xFFFFFFFFu);
  EXPECT_TRUE(fake.logger.Lines().empty());
}

}  // namespace
}  // namespace pelko
