#include "agent/platform/launcher.h"

#include <windows.h>
#include <shellapi.h>

namespace pelko {

namespace {

class ProcessHandle : public StartedProgram {
 public:
  explicit ProcessHandle(HANDLE process) : process(process) {}
  ~ProcessHandle() override { CloseHandle(process); }
  bool Running() override { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

 private:
  const HANDLE process;
};

class ShellLauncher : public Launcher {
 public:
  LaunchResult Check(const std::string& program) override {
    const DWORD attributes = GetFileAttributesA(program.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {LaunchStatus::kFailed, program + " is missing"};
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {LaunchStatus::kFailed, program + " is a folder"};
    return {LaunchStatus::kStarted, ""};
  }

  LaunchResult Launch(const std::string& program) override {
    SHELLEXECUTEINFOA start{};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    start.lpFile = program.c_str();
    start.nShow = SW_SHOW;
    if (!ShellExecuteExA(&start)) {
      return {LaunchStatus::kFailed, "ShellExecute failed with error " + std::to_string(GetLastError())};
    }
    std::shared_ptr<StartedProgram> followed;
    if (start.hProcess != nullptr) followed = std::make_shared<ProcessHandle>(start.hProcess);
    return {LaunchStatus::kStarted, "", std::move(followed)};
  }
};

}  // namespace

Launcher& PlatformLauncher() {
  static ShellLauncher launcher;
  return launcher;
}

}  // namespace pelko
