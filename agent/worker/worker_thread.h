// Base of every thread of the agent but the main one. The owner starts a
// worker and stops it; a worker never reports back. A worker that fails
// says so through the trouble report as its thread ends; its owner notices
// the ended thread with HasEnded().
//
// Stopping is cooperative first: Stop() raises the worker's stop signal,
// which cuts short the worker's current or next Pause(), and waits a short
// grace for the thread to end. Only a worker that does not end in that time
// is terminated. Forced termination alone could leave the heap lock or a
// critical section held for ever and hang the whole agent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "agent/platform/env.h"

namespace pelko {

// How long Stop() lets a worker reach its next pause before ending it.
inline constexpr uint32_t kStopGraceMs = 500;

// Thrown out of Pause() when the worker is asked to stop; caught by
// ThreadEntry, so everything on the worker's stack unwinds normally.
struct WorkerStopping {};

class WorkerThread {
 public:
  explicit WorkerThread(const Env& env);
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // The worker's work, on its own thread. It returns only when the work
  // is done; a worker asked to stop leaves it through Pause().
  virtual void Run() = 0;

  // Starts the thread; a worker still started is stopped first.
  void Start();
  void Stop();
  // Raises the stop signal without waiting, so that several workers can wind
  // down at once before each is stopped.
  void RequestStop();
  bool IsStarted() const { return handle != nullptr; }
  // Started and not stopped since, yet its thread has ended: its Run failed
  // or returned (or RequestStop ended it).
  bool HasEnded() const;
  // Waits up to ms for the thread to end; true once it has, or was never
  // started.
  bool WaitUntilEnded(uint32_t ms) const;
  // The thread's exit code as read at the last Stop(): kStillActive when
  // Run returned or failed, 0xFFFFFFFF when it was stopped.
  uint32_t ExitCode() const { return exitCode; }

  // What the lines that tell of this worker's troubles call it; set by the
  // owner while the worker is not running.
  std::string name = "worker thread";

 protected:
  // Every wait of a worker goes through here; throws WorkerStopping when the
  // worker is asked to stop before or during the wait.
  void Pause(uint32_t ms);
  // The wait as a callable, for helpers that retry with pauses.
  auto Pauser() {
    return [this](uint32_t ms) { Pause(ms); };
  }

  // Called once the stop signal is raised, for a worker that also waits on
  // signals of its own.
  virtual void OnStopRequested() {}

  Env env;

 private:
  friend uint32_t ThreadEntry(void* worker);
  // Says, on the ending thread, what ended the worker. Never throws.
  void ReportFailure(const char* what) noexcept;

  std::unique_ptr<Signal> stopSignal;
  ThreadHandle handle = nullptr;
  uint32_t exitCode = 0xFFFFFFFF;
};

// The start routine of every worker: runs Run. Returns
// kStillActive, so a worker whose Run returned or failed still reads as
// active; a worker that ended because it was asked to stop returns -1. An
// exception out of the worker is reported, never let out of the thread.
uint32_t ThreadEntry(void* worker);

}  // namespace pelko
