#include "agent/platform/system_info.h"

namespace pelko {

SystemInfo& PlatformSystemInfo() {
  static SystemInfo service;
  return service;
}

}  // namespace pelko
