// Registry service: the handful of Reg*A operations the configuration needs,
// with Win32's status codes so the value classes behave alike everywhere.
//
// Safe for concurrent use from any thread and any process; an open key
// handle may be used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>

namespace pelko {

enum class RootKey : uint32_t { kLocalMachine, kCurrentUser };

using RegKey = void*;  // an open key; nullptr is none

// Win32 status codes and constants, also used by the POSIX store and fakes.
inline constexpr int32_t kErrorSuccess = 0;
inline constexpr int32_t kErrorFileNotFound = 2;
inline constexpr int32_t kErrorAccessDenied = 5;
inline constexpr int32_t kErrorInvalidParameter = 87;
inline constexpr int32_t kErrorMoreData = 234;

inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyWrite = 0x20006;

inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

// A value type's name as reg.exe shows it ("REG_0xC" for one it has no name for).
inline std::string RegTypeName(uint32_t type) {
  static constexpr const char* kNames[] = {"REG_NONE",
                                           "REG_SZ",
                                           "REG_EXPAND_SZ",
                                           "REG_BINARY",
                                           "REG_DWORD",
                                           "REG_DWORD_BIG_ENDIAN",
                                           "REG_LINK",
                                           "REG_MULTI_SZ",
                                           "REG_RESOURCE_LIST",
                                           "REG_FULL_RESOURCE_DESCRIPTOR",
                                           "REG_RESOURCE_REQUIREMENTS_LIST",
                                           "REG_QWORD"};
  if (type < sizeof kNames / sizeof kNames[0]) return kNames[type];
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string digits;
  do {
    digits.insert(digits.begin(), kHex[type % 16]);
    type /= 16;
  } while (type != 0);
  return "REG_0x" + digits;
}

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens an existing key; fails with kErrorFileNotFound when it is missing.
  virtual int32_t OpenKey(RootKey root, const std::string& subKey, uint32_t access,
                          RegKey* key) = 0;
  // Opens a key, creating it and its missing parents.
  virtual int32_t CreateKey(RootKey root, const std::string& subKey, uint32_t access,
                            RegKey* key) = 0;
  // With data == nullptr only reports the size. A buffer smaller than the
  // data fails with kErrorMoreData and sets *size to the size needed.
  // type may be nullptr.
  virtual int32_t QueryValue(RegKey key, const std::string& name, uint32_t* type, uint8_t* data,
                             uint32_t* size) = 0;
  virtual int32_t SetValue(RegKey key, const std::string& name, uint32_t type, const uint8_t* data,
                           uint32_t size) = 0;
  virtual int32_t CloseKey(RegKey key) = 0;
  // Removes a value; kErrorFileNotFound when there is none. The key must be
  // open for writing. Only the configuration command deletes values.
  virtual int32_t DeleteValue(RegKey /*key*/, const std::string& /*name*/) {
    return kErrorAccessDenied;
  }
};

// The machine's own registry (Win32) or the file-backed store (POSIX).
Registry& PlatformRegistry();

}  // namespace pelko
