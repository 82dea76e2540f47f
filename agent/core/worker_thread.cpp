#include "agent/core/worker_thread.h"

namespace pelko {

WorkerThread::WorkerThread(const Env& env)
    : startRoutine(&ThreadEntry), env(env), stopSignal(env.clock->NewSignal()) {}

// Derived workers stop themselves in their own destructors, before their
// members go; this only catches a bare WorkerThread.
WorkerThread::~WorkerThread() { Stop(); }

uint32_t WorkerThread::Run(uint32_t) { return exitCode; }

void WorkerThread::Start() {
  if (handle != nullptr) Stop();
  stopSignal->Reset();
  runArgument = 0;
  handle = env.threads->Create(startRoutine, this, &threadId);
  exitCode = 0xFFFFFFFF;
}

void WorkerThread::RequestStop() {
  if (handle == nullptr) return;
  stopSignal->Set();
  OnStopRequested();
}

void WorkerThread::Stop() {
  if (handle == nullptr) return;
  stopSignal->Set();
  OnStopRequested();
  env.threads->WaitForExit(handle, StopGraceMs);
  if (env.threads->GetExitCode(handle, &exitCode) && exitCode == kStillActive) {
    env.threads->Terminate(handle, 0xFFFFFFFF);
  }
  env.threads->Close(handle);
  handle = nullptr;
}

void WorkerThread::Pause(uint32_t ms) {
  if (stopSignal->Wait(ms)) throw WorkerStopping{};
}

uint32_t ThreadEntry(void* parameter) {
  auto* worker = static_cast<WorkerThread*>(parameter);
  try {
    worker->BeforeRun();
    worker->Run(worker->runArgument);
    worker->AfterRun();
  } catch (const WorkerStopping&) {
    return 0xFFFFFFFF;
  } catch (...) {
    // A worker that fails ends like one whose Run returned; the agent and
    // the other workers go on.
  }
  return kStillActive;
}

}  // namespace pelko
