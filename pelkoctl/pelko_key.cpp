#include "pelkoctl/pelko_key.h"

#include "agent/config/registry_value.h"
#include "agent/config/setting_table.h"
#include "agent/config/settings.h"
#include "agent/util/coding.h"

namespace pelko::ctl {

std::optional<uint32_t> StoredValue::Number() const {
  if (type != kRegDword || data.size() != 4) return std::nullopt;
  return static_cast<uint32_t>(DecodeLittleEndian(data));
}

std::optional<std::string> StoredValue::Text() const {
  if (type != kRegSz && type != kRegExpandSz) return std::nullopt;
  return data.substr(0, data.find('\0'));
}

std::string StoredValue::Describe() const {
  if (auto number = Number()) return std::to_string(*number);
  if (auto text = Text()) return "\"" + *text + "\" (" + RegTypeName(type) + ")";
  return RegTypeName(type) + " of " + std::to_string(data.size()) + " bytes";
}

std::string DescribeStatus(int32_t status) {
  switch (status) {
    case kErrorSuccess:
      return "success";
    case kErrorFileNotFound:
      return "not found";
    case kErrorAccessDenied:
      return "access denied (run it as root / an administrator; a store others can change is "
             "refused)";
    default:
      return "registry error " + std::to_string(status);
  }
}

std::optional<StoredValue> PelkoKey::Get(const std::string& name, std::string* failure) {
  RegKey key = nullptr;
  int32_t status = registry.OpenKey(RootKey::kLocalMachine, settings::kKey, kKeyRead, &key);
  if (status != kErrorSuccess) {
    if (status != kErrorFileNotFound && failure != nullptr) *failure = DescribeStatus(status);
    return std::nullopt;
  }
  StoredValue value;
  status = QueryValueBytes(registry, key, name, &value.type, &value.data);
  registry.CloseKey(key);
  if (status != kErrorSuccess) {
    if (status != kErrorFileNotFound && failure != nullptr) *failure = DescribeStatus(status);
    return std::nullopt;
  }
  return value;
}

std::string PelkoKey::Put(const std::string& name, uint32_t type, const std::string& bytes) {
  RegKey key = nullptr;
  int32_t status = registry.CreateKey(RootKey::kLocalMachine, settings::kKey, kKeyWrite, &key);
  if (status != kErrorSuccess) return "cannot open the settings: " + DescribeStatus(status);
  status = registry.SetValue(key, name, type, reinterpret_cast<const uint8_t*>(bytes.data()),
                             static_cast<uint32_t>(bytes.size()));
  registry.CloseKey(key);
  if (status != kErrorSuccess) return "cannot write " + name + ": " + DescribeStatus(status);
  return "";
}

std::string PelkoKey::PutNumber(const std::string& name, uint32_t number) {
  return Put(name, kRegDword, EncodeLittleEndian(number, 4));
}

std::string PelkoKey::PutText(const std::string& name, const std::string& text) {
  return Put(name, kRegSz, text + std::string(1, '\0'));
}

std::string PelkoKey::Delete(const std::string& name) {
  RegKey key = nullptr;
  int32_t status = registry.OpenKey(RootKey::kLocalMachine, settings::kKey, kKeyWrite, &key);
  if (status == kErrorFileNotFound) return "";
  if (status != kErrorSuccess) return "cannot open the settings: " + DescribeStatus(status);
  status = registry.DeleteValue(key, name);
  registry.CloseKey(key);
  if (status != kErrorSuccess && status != kErrorFileNotFound) {
    return "cannot delete " + name + ": " + DescribeStatus(status);
  }
  return "";
}

}  // namespace pelko::ctl
