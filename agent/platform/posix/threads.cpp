#include "agent/platform/threads.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace pelko {

namespace {

// Shared by the thread and its handle; freed by whichever lets go last.
struct ThreadControl {
  ThreadRoutine routine = nullptr;
  void* parameter = nullptr;
  pthread_t thread{};
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  bool overridden = false;  // Terminate set the exit code
  uint32_t exitCode = kStillActive;
  int owners = 2;

  void Release() {
    bool last;
    {
      std::lock_guard<std::mutex> lock(mutex);
      last = --owners == 0;
    }
    if (last) delete this;
  }
};

void* Trampoline(void* parameter) {
  auto* control = static_cast<ThreadControl*>(parameter);
  const uint32_t code = control->routine(control->parameter);
  {
    std::lock_guard<std::mutex> lock(control->mutex);
    if (!control->overridden) control->exitCode = code;
    control->done = true;
    control->ended.notify_all();
  }
  control->Release();
  return nullptr;
}

class PosixThreads : public Threads {
 public:
  ThreadHandle Create(ThreadRoutine routine, void* parameter, uint32_t* threadId) override {
    auto* control = new ThreadControl;
    control->routine = routine;
    control->parameter = parameter;
    if (pthread_create(&control->thread, nullptr, &Trampoline, control) != 0) {
      delete control;
      return nullptr;
    }
    pthread_detach(control->thread);
    static std::atomic<uint32_t> nextId{1};
    if (threadId != nullptr) *threadId = nextId++;
    return control;
  }

  bool GetExitCode(ThreadHandle thread, uint32_t* code) override {
    if (thread == nullptr) return false;
    auto* control = static_cast<ThreadControl*>(thread);
    std::lock_guard<std::mutex> lock(control->mutex);
    *code = control->done ? control->exitCode : kStillActive;
    return true;
  }

  bool WaitForExit(ThreadHandle thread, uint32_t ms) override {
    if (thread == nullptr) return false;
    auto* control = static_cast<ThreadControl*>(thread);
    std::unique_lock<std::mutex> lock(control->mutex);
    return control->ended.wait_for(lock, std::chrono::milliseconds(ms),
                                   [control] { return control->done; });
  }

  // No thread can be ended safely from outside: wait until it ends by itself
  // (its worker has been asked to stop), then report the code given.
  bool Terminate(ThreadHandle thread, uint32_t code) override {
    if (thread == nullptr) return false;
    auto* control = static_cast<ThreadControl*>(thread);
    std::unique_lock<std::mutex> lock(control->mutex);
    if (control->done) return true;
    control->ended.wait(lock, [control] { return control->done; });
    control->exitCode = code;
    control->overridden = true;
    return true;
  }

  void Close(ThreadHandle thread) override {
    if (thread != nullptr) static_cast<ThreadControl*>(thread)->Release();
  }
};

class SignalLoop : public MessageLoop {
 public:
  void Run() override {
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, SIGTERM);
    sigaddset(&quit, SIGINT);
    sigaddset(&quit, SIGHUP);  // the terminal of an agent run by hand closed
    pthread_sigmask(SIG_BLOCK, &quit, nullptr);
    int received = 0;
    while (sigwait(&quit, &received) != 0) {
    }
  }
};

}  // namespace

Threads& PlatformThreads() {
  static PosixThreads threads;
  return threads;
}

MessageLoop& PlatformMessageLoop() {
  static SignalLoop loop;
  return loop;
}

}  // namespace pelko
