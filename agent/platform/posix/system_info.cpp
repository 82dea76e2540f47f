#include "agent/platform/system_info.h"

#include <cstring>
#include <string>

#include "agent/platform/posix/cups/cups_server.h"

namespace pelko {

namespace {

class PosixSystemInfo : public SystemInfo {
 public:
  uint32_t GetComputerNameA(char* buffer, uint32_t* size) override {
    const std::string name = ThisComputerName();
    const auto needed = static_cast<uint32_t>(name.size() + 1);
    if (buffer == nullptr || *size < needed) {
      *size = needed;
      return kErrorBufferOverflow;
    }
    std::memcpy(buffer, name.c_str(), needed);
    *size = needed - 1;
    return 0;
  }
};

}  // namespace

SystemInfo& PlatformSystemInfo() {
  static PosixSystemInfo service;
  return service;
}

}  // namespace pelko
