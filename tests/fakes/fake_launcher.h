#pragma once

#include <functional>
#include <map>
#include <memory>
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
    LaunchResult answer = result;
    if (answer.Started()) answer.program = std::make_shared<Program>(running);
    return answer;
  }

  // Every program started runs while running is true.
  struct Program : StartedProgram {
    explicit Program(std::shared_ptr<bool> running) : running(std::move(running)) {}
    bool Running() override { return *running; }
    std::shared_ptr<bool> running;
  };
  LaunchResult Check(const std::string& program) override {
    checked.push_back(program);
    return checkResult;
  }

  // What Vet answers for a path not in vetAnswers: kStarted.
  LaunchResult Vet(const std::string& path) override {
    vetted.push_back(path);
    const auto answer = vetAnswers.find(path);
    return answer == vetAnswers.end() ? LaunchResult{LaunchStatus::kStarted, ""} : answer->second;
  }

  std::vector<std::string> launched;
  std::vector<std::string> vetted;
  std::map<std::string, LaunchResult> vetAnswers;
  std::vector<std::string> checked;
  LaunchResult checkResult{LaunchStatus::kStarted, ""};
  std::function<void(const std::string&)> onLaunch;
  LaunchResult result{LaunchStatus::kStarted, ""};
  std::shared_ptr<bool> running = std::make_shared<bool>(false);
};

}  // namespace pelko
