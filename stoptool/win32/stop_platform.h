#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace pelko::stoptool {

// One process as the system's process list shows it.
struct ProcessEntry {
  uint32_t id = 0;
  std::string exeName;
};

// A process list taken at one moment, walked from its first entry on.
class ProcessSnapshot {
 public:
  virtual ~ProcessSnapshot() = default;  // releases the snapshot
  virtual bool First(ProcessEntry* entry) = 0;
  virtual bool Next(ProcessEntry* entry) = 0;
};

// What the stop tool asks of the operating system, and nothing more.
class StopPlatform {
 public:
  using WindowId = uintptr_t;

  virtual ~StopPlatform() = default;
  // Initialises the program's runtime; false when that fails.
  virtual bool StartUp() = 0;
  virtual std::optional<WindowId> FindWindowByTitle(const std::string& title) = 0;
  // Queues a close request and returns at once.
  virtual void PostClose(WindowId window) = 0;
  // Null when no snapshot can be taken.
  virtual std::unique_ptr<ProcessSnapshot> TakeSnapshot() = 0;
  // Opens the process and ends it with exit code 0; false if either fails.
  virtual bool TerminateProcessById(uint32_t id) = 0;
};

// Whether a process list entry names the agent: the whole name without
// regard to case, in the system's ANSI code page.
bool IsAgentExeName(const std::string& exeName);

// The operating system this program was built for.
std::unique_ptr<StopPlatform> MakeSystemStopPlatform();

}  // namespace pelko::stoptool
