// Facts about the machine the agent runs on.
//
// Safe for concurrent use from any thread.
#pragma once

#include <cstdint>

namespace pelko {

inline constexpr uint32_t kErrorBufferOverflow = 111;

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // GetComputerNameA: the computer's (NetBIOS) name, at most 15 bytes, into
  // buffer with its terminating zero; *size is the buffer's size on entry
  // and the name's length on success. Too small a buffer fails with
  // kErrorBufferOverflow and *size the size needed. 0 or the error code.
  virtual uint32_t GetComputerNameA(char* buffer, uint32_t* size) = 0;
};

SystemInfo& PlatformSystemInfo();

}  // namespace pelko
