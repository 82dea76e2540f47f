#include "agent/platform/threads.h"

#include <windows.h>

namespace pelko {

namespace {

class Win32Threads : public Threads {
 public:
  ThreadHandle Create(ThreadRoutine routine, void* parameter, uint32_t* threadId) override {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(routine),
                                 parameter, 0, &id);
    if (threadId != nullptr) *threadId = id;
    return thread;
  }
  bool GetExitCode(ThreadHandle thread, uint32_t* code) override {
    DWORD exitCode = 0;
    if (!GetExitCodeThread(static_cast<HANDLE>(thread), &exitCode)) return false;
    *code = exitCode;
    return true;
  }
  bool WaitForExit(ThreadHandle thread, uint32_t ms) override {
    return WaitForSingleObject(static_cast<HANDLE>(thread), ms) == WAIT_OBJECT_0;
  }
  bool Terminate(ThreadHandle thread, uint32_t code) override {
    return TerminateThread(static_cast<HANDLE>(thread), code) != 0;
  }
  void Close(ThreadHandle thread) override { CloseHandle(static_cast<HANDLE>(thread)); }
};

class Win32MessageLoop : public MessageLoop {
 public:
  void Run() override {
    MSG message;
    // Makes sure the thread has a queue before anyone posts the quit message.
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    for (;;) {
      const BOOL got = GetMessageA(&message, nullptr, 0, 0);
      if (got == 0) return;
      if (got == -1) {
        ::Sleep(10);  // never spin on a failing queue
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
};

}  // namespace

Threads& PlatformThreads() {
  static Win32Threads threads;
  return threads;
}

MessageLoop& PlatformMessageLoop() {
  static Win32MessageLoop loop;
  return loop;
}

}  // namespace pelko
