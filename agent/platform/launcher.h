#pragma once

namespace pelko {

class Launcher {
 public:
  virtual ~Launcher() = default;
};

Launcher& PlatformLauncher();

}  // namespace pelko
