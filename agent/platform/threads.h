// Thread service: create, observe and end threads the way Win32 does.
//
// Safe for concurrent use from any thread.
#pragma once

#include <cstdint>

namespace pelko {

using ThreadHandle = void*;  // nullptr is none
using ThreadRoutine = uint32_t (*)(void* parameter);

inline constexpr uint32_t kStillActive = 259;

class Threads {
 public:
  virtual ~Threads() = default;
  // Runs routine(parameter) on a new thread; nullptr on failure.
  virtual ThreadHandle Create(ThreadRoutine routine, void* parameter, uint32_t* threadId) = 0;
  // kStillActive while the thread runs, then the code it ended with.
  virtual bool GetExitCode(ThreadHandle thread, uint32_t* code) = 0;
  // Waits up to ms for the thread to end; true once it has.
  virtual bool WaitForExit(ThreadHandle thread, uint32_t ms) = 0;
  // Win32 ends the thread at once. POSIX has no safe way to do that: it waits
  // until the thread has ended (its worker was asked to stop first, and ends
  // at its next pause) and then records code as its exit code.
  virtual bool Terminate(ThreadHandle thread, uint32_t code) = 0;
  virtual void Close(ThreadHandle thread) = 0;
};

Threads& PlatformThreads();

// Blocks the main thread until the process is asked to quit: WM_QUIT on
// Win32, SIGTERM or SIGINT on POSIX.
class MessageLoop {
 public:
  virtual ~MessageLoop() = default;
  virtual void Run() = 0;
};

MessageLoop& PlatformMessageLoop();

}  // namespace pelko
