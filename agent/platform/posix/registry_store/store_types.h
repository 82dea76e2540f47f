// What the registry store's parts share: the Win32 status codes only this
// store reports and a value as it is held. Apart from registry_store.h so
// that the parts below the store need not include the store itself.
#pragma once

#include <cstdint>
#include <string>

#include "agent/platform/registry.h"

namespace pelko {

inline constexpr int32_t kErrorInvalidHandle = 6;
inline constexpr int32_t kErrorRegistryIoFailed = 1016;
inline constexpr int32_t kErrorKeyDeleted = 1018;
inline constexpr int32_t kErrorTimeout = 1460;

struct RegistryEntry {
  std::string name;
  uint32_t type = kRegNone;
  std::string data;
};

// No setting needs more: a larger value (a 40 MB one cost the agent a core
// at every read) is not handed out.
inline constexpr uint32_t kMaxValueBytes = 64 * 1024;

}  // namespace pelko
