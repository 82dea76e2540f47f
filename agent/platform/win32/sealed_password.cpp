// HKLM\Software is readable by every user: the password is sealed with
// DPAPI for this machine, so that only its administrators and services
// (the agent runs as LocalSystem) can open it.
#include <windows.h>
#include <wincrypt.h>

#include "agent/platform/registry.h"
#include "agent/platform/sql.h"

namespace pelko {

namespace {

DATA_BLOB Blob(const std::string& bytes) {
  return DATA_BLOB{static_cast<DWORD>(bytes.size()),
                   reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

// What tells one value's blobs apart from any other DPAPI data.
std::string Entropy(const std::string& purpose) { return "Pelko\\" + purpose; }

}  // namespace

bool SealPassword(const std::string& purpose, const std::string& password, SealedPassword* sealed,
                  std::string* error) {
  DATA_BLOB in = Blob(password);
  const std::string entropyText = Entropy(purpose);
  DATA_BLOB entropy = Blob(entropyText);
  DATA_BLOB out{};
  if (!CryptProtectData(&in, L"Pelko password", &entropy, nullptr, nullptr,
                        CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &out)) {
    *error = "CryptProtectData failed (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  sealed->data.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  LocalFree(out.pbData);
  sealed->type = kRegBinary;
  return true;
}

bool OpenPassword(const std::string& purpose, const SealedPassword& sealed, std::string* password,
                  std::string* error, const std::string& setBy) {
  if (sealed.type != kRegBinary) {
    *error = purpose + " is not a sealed REG_BINARY value (set it with " + setBy + ")";
    return false;
  }
  DATA_BLOB in = Blob(sealed.data);
  const std::string entropyText = Entropy(purpose);
  DATA_BLOB entropy = Blob(entropyText);
  DATA_BLOB out{};
  if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out)) {
    *error = purpose + " cannot be unsealed on this machine (error " +
             std::to_string(GetLastError()) + "); set it again with " + setBy;
    return false;
  }
  password->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  SecureZeroMemory(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return true;
}

}  // namespace pelko
