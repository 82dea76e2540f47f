// In-memory registry with Win32's semantics: names compared without regard
// to case, types kept, parents created on CreateKey.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agent/platform/registry.h"

namespace pelko {

class FakeRegistry : public Registry {
 public:
  int32_t OpenKey(RootKey root, const std::string& subKey, uint32_t access, RegKey* key) override;
  int32_t CreateKey(RootKey root, const std::string& subKey, uint32_t access, RegKey* key) override;
  int32_t QueryValue(RegKey key, const std::string& name, uint32_t* type, uint8_t* data,
                     uint32_t* size) override;
  int32_t SetValue(RegKey key, const std::string& name, uint32_t type, const uint8_t* data,
                   uint32_t size) override;
  int32_t CloseKey(RegKey key) override;
  int32_t DeleteValue(RegKey key, const std::string& name) override;

  // Test helpers; paths are full value paths under HKLM, "Software\Pelko\Path".
  void PutDword(const std::string& path, uint32_t value);
  void PutString(const std::string& path, const std::string& value);
  void PutRaw(const std::string& path, uint32_t type, const std::vector<uint8_t>& data);
  void Remove(const std::string& path);
  std::optional<uint32_t> Dword(const std::string& path);
  std::optional<std::string> String(const std::string& path);
  bool Has(const std::string& path);

  int writes = 0;    // successful SetValue calls
  int reads = 0;     // OpenKey calls
  int openKeys = 0;  // keys open right now
  bool failWrites = false;

 private:
  struct Value {
    uint32_t type = 0;
    std::vector<uint8_t> data;
  };
  struct Key {
    std::map<std::string, Value> values;  // by lower-cased name
  };
  struct Handle {
    std::string key;
  };
  static std::string Fold(RootKey root, const std::string& path);
  std::optional<Value> Find(const std::string& path);

  std::mutex mutex;
  std::map<std::string, Key> keys;  // by folded path
};

}  // namespace pelko
