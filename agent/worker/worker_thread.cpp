#include "agent/worker/worker_thread.h"

#include <exception>

namespace pelko {

WorkerThread::WorkerThread(const Env& env) : env(env), stopSignal(env.clock->NewSignal()) {}

// Derived workers stop themselves in their own destructors, before their
// members go; this only catches a bare WorkerThread.
WorkerThread::~WorkerThread() { Stop(); }

void WorkerThread::Start() {
  if (handle != nullptr) Stop();
  stopSignal->Reset();
  uint32_t threadId = 0;
  handle = env.threads->Create(&ThreadEntry, this, &threadId);
  exitCode = 0xFFFFFFFF;
}

void WorkerThread::RequestStop() {
  if (handle == nullptr) return;
  stopSignal->Set();
  OnStopRequested();
}

void WorkerThread::Stop() {
  if (handle == nullptr) return;
  RequestStop();
  env.threads->WaitForExit(handle, kStopGraceMs);
  if (env.threads->GetExitCode(handle, &exitCode) && exitCode == kStillActive) {
    env.threads->Terminate(handle, 0xFFFFFFFF);
  }
  env.threads->Close(handle);
  handle = nullptr;
}

bool WorkerThread::HasEnded() const {
  return handle != nullptr && env.threads->WaitForExit(handle, 0);
}

bool WorkerThread::WaitUntilEnded(uint32_t ms) const {
  return handle == nullptr || env.threads->WaitForExit(handle, ms);
}

void WorkerThread::ReportFailure(const char* what) noexcept {
  // Memory may be what ran out: a line that cannot be made is left unsaid.
  try {
    SayTrouble(env, EventKind::kWorkerFailed, Severity::kError, "failed " + name,
               "the " + name + " failed: " + what);
  } catch (...) {
  }
}

void WorkerThread::Pause(uint32_t ms) {
  if (stopSignal->Wait(ms)) throw WorkerStopping{};
}

uint32_t ThreadEntry(void* parameter) {
  auto* worker = static_cast<WorkerThread*>(parameter);
  try {
    worker->Run();
  } catch (const WorkerStopping&) {
    return 0xFFFFFFFF;
  } catch (const std::exception& failure) {
    // The agent and the other workers go on; the owner starts this one
    // again.
    worker->ReportFailure(failure.what());
  } catch (...) {
    worker->ReportFailure("an exception of unknown kind");
  }
  return kStillActive;
}

}  // namespace pelko
