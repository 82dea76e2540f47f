// Threads that are recorded but never run, so a test can drive the
// supervisor's decisions cycle by cycle and see which workers it started.
#pragma once

#include <deque>
#include <memory>
#include <mutex>

#include "agent/platform/threads.h"

namespace pelko {

class FakeThreads : public Threads {
 public:
  struct Record {
    ThreadRoutine routine = nullptr;
    void* parameter = nullptr;
    bool running = true;
    bool terminated = false;
    bool closed = false;
    uint32_t exitCode = kStillActive;
  };

  ThreadHandle Create(ThreadRoutine routine, void* parameter, uint32_t* threadId) override;
  bool GetExitCode(ThreadHandle thread, uint32_t* code) override;
  bool WaitForExit(ThreadHandle thread, uint32_t ms) override;
  bool Terminate(ThreadHandle thread, uint32_t code) override;
  void Close(ThreadHandle thread) override;

  // How many threads run for this worker object (more than one is a fault).
  int Running(const void* worker);
  int Started(const void* worker);
  // The worker's thread ends by itself with this code.
  void Finish(const void* worker, uint32_t code);
  // Runs the worker's running thread's routine on the caller's thread and
  // ends the thread with what it returns; false when none is running.
  bool RunToEnd(const void* worker);

  bool failCreate = false;
  int creates = 0;
  int terminations = 0;

 private:
  std::mutex mutex;
  std::deque<std::unique_ptr<Record>> records;
};

}  // namespace pelko
