#include "agent/platform/sql.h"

namespace pelko {

bool StoreSealedPassword(Registry& registry, const std::string& keyPath, const std::string& name,
                         const std::string& password, std::string* error) {
  SealedPassword sealed;
  if (!SealPassword(name, password, &sealed, error)) return false;
  RegKey key = nullptr;
  int32_t status = registry.CreateKey(RootKey::kLocalMachine, keyPath, kKeyWrite, &key);
  if (status == kErrorSuccess) {
    status = registry.SetValue(key, name, sealed.type,
                               reinterpret_cast<const uint8_t*>(sealed.data.data()),
                               static_cast<uint32_t>(sealed.data.size()));
    registry.CloseKey(key);
  }
  if (status == kErrorSuccess) return true;
  *error = status == kErrorAccessDenied
               ? "access to the registry is denied (run it as an administrator)"
               : "the registry refused it (error " + std::to_string(status) + ")";
  return false;
}

}  // namespace pelko
