#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "stoptool/posix/process_control.h"

namespace pelko::stoptool {

// Plays the Linux system from a script and records, in order, what the stop
// tool asked of it.
class FakeProcessControl : public ProcessControl {
 public:
  struct Program {
    Found found = Found::kYes;
    RunningProgram running;
  };

  std::string folder = "/opt/pelko";
  bool folderUnknown = false;
  std::map<std::string, Program> programs;  // by path; others have no file
  std::set<uint32_t> refusing;              // Terminate fails
  std::set<uint32_t> stubborn;              // still running after the wait

  std::vector<std::string> calls;

  bool OwnFolder(std::string* result, std::string* error) override {
    if (folderUnknown) {
      *error = "cannot read /proc/self/exe";
      return false;
    }
    *result = folder;
    return true;
  }

  Found FindRunning(const std::string& path, RunningProgram* running, std::string* error) override {
    calls.push_back("find " + path);
    auto program = programs.find(path);
    if (program == programs.end()) {
      *error = path + ": No such file or directory";
      return Found::kNoProgramFile;
    }
    if (program->second.found == Found::kFailed) *error = "cannot list /proc: Permission denied";
    *running = program->second.running;
    return program->second.found;
  }

  bool Terminate(uint32_t id, std::string* error) override {
    if (refusing.count(id) != 0) {
      calls.push_back("refused " + std::to_string(id));
      *error = "Operation not permitted";
      return false;
    }
    calls.push_back("terminate " + std::to_string(id));
    return true;
  }

  std::vector<uint32_t> WaitForEnd(const std::vector<uint32_t>& ids, int timeoutMs) override {
    std::string call = "wait";
    std::vector<uint32_t> left;
    for (uint32_t id : ids) {
      call += " " + std::to_string(id);
      if (stubborn.count(id) != 0) left.push_back(id);
    }
    calls.push_back(call + " for " + std::to_string(timeoutMs) + " ms");
    return left;
  }
};

}  // namespace pelko::stoptool
