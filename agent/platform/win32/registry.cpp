#include "agent/platform/registry.h"

#include <windows.h>

namespace pelko {

namespace {

HKEY RootHandle(RootKey root) {
  return root == RootKey::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

class Win32Registry : public Registry {
 public:
  int32_t OpenKey(RootKey root, const std::string& subKey, uint32_t access, RegKey* key) override {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(RootHandle(root), subKey.c_str(), 0, access, &opened);
    *key = status == ERROR_SUCCESS ? static_cast<RegKey>(opened) : nullptr;
    return status;
  }
  int32_t CreateKey(RootKey root, const std::string& subKey, uint32_t access,
                    RegKey* key) override {
    HKEY opened = nullptr;
    char emptyClass[] = "";
    const LONG status = RegCreateKeyExA(RootHandle(root), subKey.c_str(), 0, emptyClass,
                                        REG_OPTION_NON_VOLATILE, access, nullptr, &opened, nullptr);
    *key = status == ERROR_SUCCESS ? static_cast<RegKey>(opened) : nullptr;
    return status;
  }
  int32_t QueryValue(RegKey key, const std::string& name, uint32_t* type, uint8_t* data,
                     uint32_t* size) override {
    DWORD kind = 0;
    DWORD length = *size;
    const LONG status =
        RegQueryValueExA(static_cast<HKEY>(key), name.c_str(), nullptr, &kind, data, &length);
    if (type != nullptr) *type = kind;
    *size = length;
    return status;
  }
  int32_t SetValue(RegKey key, const std::string& name, uint32_t type, const uint8_t* data,
                   uint32_t size) override {
    return RegSetValueExA(static_cast<HKEY>(key), name.c_str(), 0, type, data, size);
  }
  int32_t CloseKey(RegKey key) override { return RegCloseKey(static_cast<HKEY>(key)); }
  int32_t DeleteValue(RegKey key, const std::string& name) override {
    return RegDeleteValueA(static_cast<HKEY>(key), name.c_str());
  }
};

}  // namespace

Registry& PlatformRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace pelko
