#include "tests/fakes/fake_registry.h"

#include <cstring>

#include "agent/config/registry_value.h"
#include "agent/util/coding.h"

namespace pelko {

std::string FakeRegistry::Fold(RootKey root, const std::string& path) {
  std::string folded = root == RootKey::kCurrentUser ? "hkcu" : "hklm";
  std::string trimmed = path;
  while (!trimmed.empty() && trimmed.front() == '\\') trimmed.erase(0, 1);
  while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
  if (!trimmed.empty()) folded += "\\" + trimmed;
  return AsciiLowered(folded);
}

int32_t FakeRegistry::OpenKey(RootKey root, const std::string& subKey, uint32_t, RegKey* key) {
  std::lock_guard<std::mutex> lock(mutex);
  ++reads;
  const std::string folded = Fold(root, subKey);
  if (folded.find('\\') != std::string::npos && keys.count(folded) == 0) {
    *key = nullptr;
    return kErrorFileNotFound;
  }
  *key = new Handle{folded};
  ++openKeys;
  return kErrorSuccess;
}

int32_t FakeRegistry::CreateKey(RootKey root, const std::string& subKey, uint32_t, RegKey* key) {
  std::lock_guard<std::mutex> lock(mutex);
  if (failWrites) {
    *key = nullptr;
    return kErrorAccessDenied;
  }
  const std::string folded = Fold(root, subKey);
  for (std::size_t at = folded.find('\\'); at != std::string::npos;
       at = folded.find('\\', at + 1)) {
    keys[folded.substr(0, at)];
  }
  keys[folded];
  *key = new Handle{folded};
  ++openKeys;
  return kErrorSuccess;
}

int32_t FakeRegistry::QueryValue(RegKey key, const std::string& name, uint32_t* type, uint8_t* data,
                                 uint32_t* size) {
  std::lock_guard<std::mutex> lock(mutex);
  auto* handle = static_cast<Handle*>(key);
  const std::string folded = AsciiLowered(name);
  auto k = keys.find(handle->key);
  if (k == keys.end()) return kErrorFileNotFound;
  auto v = k->second.values.find(folded);
  if (v == k->second.values.end()) return kErrorFileNotFound;
  if (type != nullptr) *type = v->second.type;
  const auto needed = static_cast<uint32_t>(v->second.data.size());
  if (data == nullptr) {
    *size = needed;
    return kErrorSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (needed != 0) std::memcpy(data, v->second.data.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

int32_t FakeRegistry::SetValue(RegKey key, const std::string& name, uint32_t type,
                               const uint8_t* data, uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex);
  if (failWrites) return kErrorAccessDenied;
  auto* handle = static_cast<Handle*>(key);
  const std::string folded = AsciiLowered(name);
  keys[handle->key].values[folded] = Value{type, std::vector<uint8_t>(data, data + size)};
  ++writes;
  return kErrorSuccess;
}

int32_t FakeRegistry::DeleteValue(RegKey key, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  if (failWrites) return kErrorAccessDenied;
  auto* handle = static_cast<Handle*>(key);
  auto found = keys.find(handle->key);
  if (found == keys.end() || found->second.values.erase(AsciiLowered(name)) == 0) {
    return kErrorFileNotFound;
  }
  ++writes;
  return kErrorSuccess;
}

int32_t FakeRegistry::CloseKey(RegKey key) {
  std::lock_guard<std::mutex> lock(mutex);
  delete static_cast<Handle*>(key);
  --openKeys;
  return kErrorSuccess;
}

void FakeRegistry::PutRaw(const std::string& path, uint32_t type,
                          const std::vector<uint8_t>& data) {
  std::string keyPath, valueName;
  SplitRegistryPath(path, &keyPath, &valueName);
  RegKey key = nullptr;
  const bool failing = failWrites;
  failWrites = false;
  CreateKey(RootKey::kLocalMachine, keyPath, kKeyWrite, &key);
  SetValue(key, valueName, type, data.data(), static_cast<uint32_t>(data.size()));
  CloseKey(key);
  failWrites = failing;
  std::lock_guard<std::mutex> lock(mutex);
  --writes;  // set-up is not the agent writing
}

void FakeRegistry::PutDword(const std::string& path, uint32_t value) {
  const std::string data = EncodeLittleEndian(value, 4);
  PutRaw(path, kRegDword, std::vector<uint8_t>(data.begin(), data.end()));
}

void FakeRegistry::PutString(const std::string& path, const std::string& value) {
  std::vector<uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  PutRaw(path, kRegSz, data);
}

void FakeRegistry::Remove(const std::string& path) {
  std::string keyPath, valueName;
  SplitRegistryPath(path, &keyPath, &valueName);
  std::lock_guard<std::mutex> lock(mutex);
  const std::string folded = AsciiLowered(valueName);
  auto k = keys.find(Fold(RootKey::kLocalMachine, keyPath));
  if (k != keys.end()) k->second.values.erase(folded);
}

std::optional<FakeRegistry::Value> FakeRegistry::Find(const std::string& path) {
  std::string keyPath, valueName;
  SplitRegistryPath(path, &keyPath, &valueName);
  std::lock_guard<std::mutex> lock(mutex);
  const std::string folded = AsciiLowered(valueName);
  auto k = keys.find(Fold(RootKey::kLocalMachine, keyPath));
  if (k == keys.end()) return std::nullopt;
  auto v = k->second.values.find(folded);
  if (v == k->second.values.end()) return std::nullopt;
  return v->second;
}

bool FakeRegistry::Has(const std::string& path) { return Find(path).has_value(); }

std::optional<uint32_t> FakeRegistry::Dword(const std::string& path) {
  auto v = Find(path);
  if (!v || v->type != kRegDword || v->data.size() != 4) return std::nullopt;
  return DecodeFixed32(v->data.data());
}

std::optional<std::string> FakeRegistry::String(const std::string& path) {
  auto v = Find(path);
  if (!v || v->type != kRegSz) return std::nullopt;
  std::string text(v->data.begin(), v->data.end());
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace pelko
