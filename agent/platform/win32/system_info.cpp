#include "agent/platform/system_info.h"

#include <windows.h>

namespace pelko {

namespace {

class Win32SystemInfo : public SystemInfo {
 public:
  uint32_t GetComputerNameA(char* buffer, uint32_t* size) override {
    DWORD length = *size;
    if (!::GetComputerNameA(buffer, &length)) {
      *size = length;
      const DWORD error = GetLastError();
      return error != 0 ? error : ERROR_GEN_FAILURE;
    }
    *size = length;
    return 0;
  }
};

}  // namespace

SystemInfo& PlatformSystemInfo() {
  static Win32SystemInfo service;
  return service;
}

}  // namespace pelko
