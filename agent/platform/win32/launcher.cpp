#include "agent/platform/launcher.h"

namespace pelko {

Launcher& PlatformLauncher() {
  static Launcher service;
  return service;
}

}  // namespace pelko
