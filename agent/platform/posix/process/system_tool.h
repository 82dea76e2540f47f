// The system's own programs (systemctl, journalctl) as root's tools run
// them: found in the system folders alone, never through the caller's PATH
// (sudo -E, or a "." in it, would put a user's program there), vetted as
// root's own, started without a shell with a clean environment, and read
// within a bound of time and bytes.
#pragma once

#include <sys/types.h>

#include <chrono>

#include <cstddef>
#include <string>
#include <vector>

namespace pelko {

// The whole PATH a program started by the agent or its tools gets.
inline constexpr char kSystemPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

// The first program called name (a bare name) in the system folders,
// resolved; empty, with why, when there is none or someone but root (or
// this process's user) could change it.
// Whether child has ended by deadline; true where that cannot be told
// (no pidfd), leaving the wait to waitpid or a kill of its group.
bool ChildEndsBy(pid_t child, std::chrono::steady_clock::time_point deadline);

std::string FindSystemProgram(const std::string& name, std::string* why);

struct ToolRun {
  bool ran = false;    // started and ended by itself, within the bounds
  int status = -1;     // its exit status when it ran
  std::string output;  // its standard output, at most the bound's bytes
  std::string error;   // why it did not run, or was ended
};

// Runs name (a bare program name) with args, its standard input and error
// on /dev/null. A program still running after timeoutMs, or writing more
// than maxBytes, is killed; output keeps what came within the bounds.
ToolRun RunSystemTool(const std::string& name, const std::vector<std::string>& args,
                      std::size_t maxBytes, int timeoutMs);

}  // namespace pelko
