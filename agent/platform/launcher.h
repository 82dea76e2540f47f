// Starts another program and does not wait for it.
//
// Safe for concurrent use from any thread.
#pragma once

#include <memory>
#include <string>

namespace pelko {

enum class LaunchStatus {
  kStarted,
  kRefused,  // it, or a folder above it, can be changed by someone else
  kFailed,   // missing, not a program, or the start itself failed
};

// A program once started, followed until it ends.
class StartedProgram {
 public:
  virtual ~StartedProgram() = default;
  // Whether it is still running.
  virtual bool Running() = 0;
};

struct LaunchResult {
  LaunchResult() = default;
  LaunchResult(LaunchStatus status, std::string reason,
               std::shared_ptr<StartedProgram> program = nullptr)
      : status(status), reason(std::move(reason)), program(std::move(program)) {}

  LaunchStatus status = LaunchStatus::kFailed;
  std::string reason;  // why it was not started; empty when it was
  // The program started; null when it was not, or cannot be followed.
  std::shared_ptr<StartedProgram> program;

  bool Started() const { return status == LaunchStatus::kStarted; }
};

class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts program (a full path) without arguments, in the agent's current
  // folder, shown normally. Nothing is waited for.
  virtual LaunchResult Launch(const std::string& program) = 0;
  // What Launch would answer for program as it stands now, without
  // starting it: kStarted when it would be started.
  virtual LaunchResult Check(const std::string& program) = 0;
  // Whether path, a file or folder a started program stands on, is out of
  // everyone else's reach: kStarted when only the system, its
  // administrators and the agent's own account (Windows: owner and every
  // right to write, append, delete, change rights or take ownership; POSIX:
  // owner root or the agent's user, no group or other write bit) can
  // change it, kRefused when someone else could, kFailed when it is
  // missing or cannot be looked at.
  virtual LaunchResult Vet(const std::string& path) = 0;
  // As Vet, for a folder the started program only reads and writes data in
  // (the logs): where the system lets a group share a folder (POSIX), the
  // group the site lets write it may, as the agent's own logs allow.
  virtual LaunchResult VetDataFolder(const std::string& path) { return Vet(path); }
};

Launcher& PlatformLauncher();

}  // namespace pelko
