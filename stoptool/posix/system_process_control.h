#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "stoptool/posix/process_control.h"

namespace pelko::stoptool {

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
};

enum class ProcessMatch { kOther, kProgram, kReplacedProgram };

// How the process whose proc folder is `dir` stands to the program file
// `path` (whose identity is `program`). It is considered only when its real,
// effective and saved user ids are each root's or `caller`'s. It runs the
// program when its exe is that same file, and a replaced copy when its exe
// is another file whose link reads "<path> (deleted)". Names the process
// can choose (argv[0], its command name, its file's name) play no part.
ProcessMatch MatchProcess(const std::string& dir, const FileIdentity& program,
                          const std::string& path, uint32_t caller);

// /proc, and pidfds to hold the processes found.
class PosixProcessControl : public ProcessControl {
 public:
  explicit PosixProcessControl(uint32_t caller);
  ~PosixProcessControl() override;
  PosixProcessControl(const PosixProcessControl&) = delete;
  PosixProcessControl& operator=(const PosixProcessControl&) = delete;

  bool OwnFolder(std::string* folder, std::string* error) override;
  Found FindRunning(const std::string& path, RunningProgram* running, std::string* error) override;
  bool Terminate(uint32_t id, std::string* error) override;
  std::vector<uint32_t> WaitForEnd(const std::vector<uint32_t>& ids, int timeoutMs) override;

 private:
  // A pidfd for the process that was looked at, or -1.
  int Hold(uint32_t id, const std::string& dir, const FileIdentity& program,
           const std::string& path);

  uint32_t caller;
  std::map<uint32_t, int> held;  // process id to its pidfd
};

}  // namespace pelko::stoptool
