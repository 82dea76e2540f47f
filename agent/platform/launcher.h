// Starts another program and does not wait for it.
#pragma once

#include <string>

namespace pelko {

class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts program (a full path) without arguments, in the agent's current
  // folder, shown normally; true when it was started. Nothing is waited for.
  virtual bool Launch(const std::string& program) = 0;
};

Launcher& PlatformLauncher();

}  // namespace pelko
