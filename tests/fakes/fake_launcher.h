#pragma once

#include <functional>
#include <string>
#include <vector>

#include "agent/platform/launcher.h"

namespace pelko {

// Records every start; onLaunch lets a test look at the world as the
// started program would find it.
class FakeLauncher : public Launcher {
 public:
  bool Launch(const std::string& program) override {
    launched.push_back(program);
    if (onLaunch) onLaunch(program);
    return succeed;
  }

  std::vector<std::string> launched;
  std::function<void(const std::string&)> onLaunch;
  bool succeed = true;
};

}  // namespace pelko
