#include "agent/platform/launcher.h"

#include <windows.h>
#include <shellapi.h>

namespace pelko {

namespace {

class ShellLauncher : public Launcher {
 public:
  bool Launch(const std::string& program) override {
    // ShellExecuteA reports success with a value above 32.
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, nullptr, program.c_str(), nullptr, nullptr, SW_SHOW));
    return result > 32;
  }
};

}  // namespace

Launcher& PlatformLauncher() {
  static ShellLauncher launcher;
  return launcher;
}

}  // namespace pelko
