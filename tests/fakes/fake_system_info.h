#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "agent/platform/system_info.h"

namespace pelko {

// GetComputerNameA's contract over a name the test chooses.
class FakeSystemInfo : public SystemInfo {
 public:
  uint32_t GetComputerNameA(char* buffer, uint32_t* size) override {
    ++calls;
    lastSize = *size;
    if (failure != 0) return failure;
    const auto needed = static_cast<uint32_t>(computerName.size() + 1);
    if (*size < needed) {
      *size = needed;
      return kErrorBufferOverflow;
    }
    std::memcpy(buffer, computerName.c_str(), needed);
    *size = needed - 1;
    return 0;
  }

  std::string computerName = "PC1";
  uint32_t failure = 0;
  int calls = 0;
  uint32_t lastSize = 0;  // the buffer size of the latest call
};

}  // namespace pelko
