#pragma once

#include <functional>
#include <string>
#include <vector>

#include "agent/platform/launcher.h"

namespace pelko {

// Records every start; onLaunch lets a test look at the world as the
// started program would find it; result is what every start answers.
class FakeLauncher : public Launcher {
 public:
  LaunchResult Launch(const std::string& program) override {
    launched.push_back(program);
    if (onLaunch) onLaunch(program);
    return result;
  }

  LaunchResult Check(const std::string& program) override {
    checked.push_back(program);
    return checkResult;
  }

  std::vector<std::string> launched;
  std::vector<std::string> checked;
  LaunchResult checkResult{LaunchStatus::kStarted, ""};
  std::function<void(const std::string&)> onLaunch;
  LaunchResult result{LaunchStatus::kStarted, ""};
};

}  // namespace pelko
