#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelko::stoptool {

// The running copies of one program file, as far as the stop tool may touch
// them: only processes of root or of the user who runs the tool.
struct RunningProgram {
  // Processes started from that very file (same device and inode).
  std::vector<uint32_t> ids;
  // Processes started from a file that lay at that path before it was
  // replaced: no longer the same file, so never ended, only reported.
  std::vector<uint32_t> replaced;
};

// What the Linux stop tool asks of the system, and nothing more.
class ProcessControl {
 public:
  enum class Found { kYes, kNoProgramFile, kFailed };

  virtual ~ProcessControl() = default;

  // The folder holding the stop tool's own program file, links resolved.
  virtual bool OwnFolder(std::string* folder, std::string* error) = 0;

  // Every process running the file at `path`. A process listed in `ids` is
  // held until this object goes, so that its id cannot be handed to another
  // process before it is ended. kNoProgramFile when there is no file at
  // `path`; kFailed, with `error`, when the search could not be made.
  virtual Found FindRunning(const std::string& path, RunningProgram* running,
                            std::string* error) = 0;

  // Asks a held process to end (SIGTERM); false, with `error`, if refused.
  virtual bool Terminate(uint32_t id, std::string* error) = 0;

  // Waits at most `timeoutMs` until each held process of `ids` has ended;
  // returns those still running then.
  virtual std::vector<uint32_t> WaitForEnd(const std::vector<uint32_t>& ids, int timeoutMs) = 0;
};

// The processes and files of this machine.
std::unique_ptr<ProcessControl> MakeSystemProcessControl();

}  // namespace pelko::stoptool
