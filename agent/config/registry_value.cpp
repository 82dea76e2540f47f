#include "agent/config/registry_value.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "agent/util/coding.h"

namespace pelko {

namespace {

void TrimLeadingBackslashes(std::string& text) { text.erase(0, text.find_first_not_of('\\')); }

}  // namespace

void SplitRegistryPath(const std::string& path, std::string* keyPath, std::string* valueName) {
  std::string rest = path;
  TrimLeadingBackslashes(rest);
  const std::size_t last = rest.rfind('\\');
  if (last == std::string::npos) {
    keyPath->clear();
    *valueName = rest;
    return;
  }
  *keyPath = rest.substr(0, last);
  while (!keyPath->empty() && keyPath->back() == '\\') keyPath->pop_back();
  *valueName = rest.substr(last);
  TrimLeadingBackslashes(*valueName);
}

int32_t QueryValueBytes(Registry& registry, RegKey key, const std::string& name, uint32_t* type,
                        std::string* data) {
  uint32_t size = 0;
  int32_t status = registry.QueryValue(key, name, type, nullptr, &size);
  if (status != kErrorSuccess) return status;
  data->assign(size, '\0');
  uint32_t got = size;
  status = registry.QueryValue(key, name, nullptr, reinterpret_cast<uint8_t*>(data->data()), &got);
  // Grown between the two calls: what was read is not the whole value.
  if (status == kErrorSuccess && got > size) status = kErrorMoreData;
  data->resize(std::min(got, size));
  return status;
}

template <typename T>
RegistryValue<T>::RegistryValue(Registry& registry, const std::string& path, T defaultValue,
                                bool alwaysRead, RootKey root)
    : registry(&registry),
      root(root),
      defaultValue(std::move(defaultValue)),
      alwaysRead(alwaysRead) {
  SplitRegistryPath(path, &keyPath, &valueName);
  Read();
}

namespace {

// A number is exactly four bytes of data, whatever its type: "3" typed as
// REG_SZ must not read as 51.
bool QueryNumber(Registry& registry, RegKey key, const std::string& name, uint32_t* number,
                 uint32_t* type) {
  uint8_t data[4] = {0, 0, 0, 0};
  uint32_t size = sizeof data;
  if (registry.QueryValue(key, name, type, data, &size) != kErrorSuccess || size != sizeof data) {
    return false;
  }
  *number = DecodeFixed32(data);
  return true;
}

bool QueryText(Registry& registry, RegKey key, const std::string& name, std::string* text,
               uint32_t* type) {
  std::string data;
  if (QueryValueBytes(registry, key, name, type, &data) != kErrorSuccess) return false;
  text->assign(data.c_str(), strnlen(data.c_str(), data.size()));
  return true;
}

}  // namespace

template <typename T>
T RegistryValue<T>::Read() {
  RegKey key = nullptr;
  if (registry->OpenKey(root, keyPath, kKeyRead, &key) != kErrorSuccess) return defaultValue;
  KeyCloser closer(*registry, key);
  T fresh{};
  uint32_t type = kRegNone;
  bool ok;
  if constexpr (std::is_same_v<T, uint32_t>) {
    ok = QueryNumber(*registry, key, valueName, &fresh, &type);
  } else {
    ok = QueryText(*registry, key, valueName, &fresh, &type);
  }
  if (!ok) return defaultValue;
  value = std::move(fresh);
  heldType = type;
  loaded = true;
  return value;
}

template <typename T>
void RegistryValue<T>::Write() {
  RegKey key = nullptr;
  if (registry->CreateKey(root, keyPath, kKeyWrite, &key) != kErrorSuccess) return;
  KeyCloser closer(*registry, key);
  int32_t status;
  if constexpr (std::is_same_v<T, uint32_t>) {
    const std::string data = EncodeLittleEndian(value, 4);
    status = registry->SetValue(key, valueName, kRegDword,
                                reinterpret_cast<const uint8_t*>(data.data()), 4);
  } else {
    // REG_SZ is stored with its terminating zero.
    status =
        registry->SetValue(key, valueName, kRegSz, reinterpret_cast<const uint8_t*>(value.c_str()),
                           static_cast<uint32_t>(value.size() + 1));
  }
  if (status == kErrorSuccess) {
    loaded = true;
    heldType = std::is_same_v<T, uint32_t> ? kRegDword : kRegSz;
  }
}

template <typename T>
T RegistryValue<T>::Get() {
  if (loaded && !alwaysRead) return value;
  return Read();
}

template <typename T>
void RegistryValue<T>::Set(const T& newValue) {
  if (newValue != value || alwaysRead) {
    value = newValue;
    Write();
  }
}

template class RegistryValue<uint32_t>;
template class RegistryValue<std::string>;

}  // namespace pelko
