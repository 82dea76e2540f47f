// Typed access to one registry value: RegistryDwordValue for a 32-bit
// number, RegistryStringValue for a text. Every reader of a setting builds
// its own object; none of them is shared between threads.
#pragma once

#include <cstdint>
#include <string>

#include "agent/platform/registry.h"

namespace pelko {

template <typename T>
class RegistryValue {
 public:
  // Splits path into keyPath and valueName and reads the value once.
  RegistryValue(Registry& registry, const std::string& path, T defaultValue = T(),
                bool alwaysRead = false, RootKey root = RootKey::kLocalMachine);

  // From the registry now; defaultValue (and the held value untouched) on
  // any failure.
  T Read();
  // Stores the held value, creating the key if it is missing.
  void Write();
  // The held value once a read or write has succeeded, else a fresh Read.
  T Get();
  // Writes only when newValue differs from the held value.
  void Set(const T& newValue);

  bool Loaded() const { return loaded; }
  const T& Held() const { return value; }
  // The registry type (kRegDword, kRegSz, ...) of the held value: as read,
  // or as written; kRegNone while nothing is held.
  uint32_t HeldType() const { return heldType; }

 private:
  Registry* registry;
  RootKey root;
  std::string valueName;
  std::string keyPath;
  T value = T();
  T defaultValue;
  bool loaded = false;
  uint32_t heldType = kRegNone;
  bool alwaysRead;
};

extern template class RegistryValue<uint32_t>;
extern template class RegistryValue<std::string>;

class RegistryDwordValue : public RegistryValue<uint32_t> {
 public:
  using RegistryValue::RegistryValue;
};

class RegistryStringValue : public RegistryValue<std::string> {
 public:
  using RegistryValue::RegistryValue;
};

// Closes an open key however its scope is left: the supervisor outlives a
// cycle that throws (bad_alloc), and each such cycle once left a key open.
class KeyCloser {
 public:
  KeyCloser(Registry& registry, RegKey key) : registry(registry), key(key) {}
  ~KeyCloser() { registry.CloseKey(key); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  Registry& registry;
  RegKey key;
};

// The bytes of a value of an open key, as stored; *type gets its type.
// Returns the registry's status.
int32_t QueryValueBytes(Registry& registry, RegKey key, const std::string& name, uint32_t* type,
                        std::string* data);

// "Software\Pelko\Path" -> key "Software\Pelko", value "Path".
void SplitRegistryPath(const std::string& path, std::string* keyPath, std::string* valueName);

}  // namespace pelko
