#include "agent/platform/launcher.h"

#include <windows.h>
#include <shellapi.h>

namespace pelko {

namespace {

class ShellLauncher : public Launcher {
 public:
  LaunchResult Check(const std::string& program) override {
    const DWORD attributes = GetFileAttributesA(program.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {LaunchStatus::kFailed, program + " is missing"};
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {LaunchStatus::kFailed, program + " is a folder"};
    return {LaunchStatus::kStarted, ""};
  }

  LaunchResult Launch(const std::string& program) override {
    // ShellExecuteA reports success with a value above 32, failure with an
    // error code at most 32.
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, nullptr, program.c_str(), nullptr, nullptr, SW_SHOW));
    if (result > 32) return {LaunchStatus::kStarted, ""};
    return {LaunchStatus::kFailed, "ShellExecute failed with error " + std::to_string(result)};
  }
};

}  // namespace

Launcher& PlatformLauncher() {
  static ShellLauncher launcher;
  return launcher;
}

}  // namespace pelko
