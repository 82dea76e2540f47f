#include "sendrik/mail_password.h"

#include <windows.h>
#include <wincrypt.h>

#include "agent/platform/registry.h"

namespace pelko::mail {

namespace {

// What tells this program's blobs apart from any other DPAPI data.
const wchar_t kDescription[] = L"Pelko mail password";
const char kEntropy[] = "Pelko\\MailPassword";

DATA_BLOB Blob(const std::string& bytes) {
  return DATA_BLOB{static_cast<DWORD>(bytes.size()),
                   reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

}  // namespace

bool SealPassword(const std::string& password, uint32_t* type, std::string* data,
                  std::string* error) {
  DATA_BLOB in = Blob(password);
  DATA_BLOB entropy = Blob(kEntropy);
  DATA_BLOB out{};
  // Machine scope: the agent's account (LocalSystem) opens what an
  // administrator sealed.
  if (!CryptProtectData(&in, kDescription, &entropy, nullptr, nullptr,
                        CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &out)) {
    *error = "CryptProtectData failed (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  data->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  LocalFree(out.pbData);
  *type = kRegBinary;
  return true;
}

bool OpenPassword(uint32_t type, const std::string& data, std::string* password,
                  std::string* error) {
  if (type != kRegBinary) {
    *error = "MailPassword is not a sealed REG_BINARY value (set it with Sendrik.exe /setpassword)";
    return false;
  }
  DATA_BLOB in = Blob(data);
  DATA_BLOB entropy = Blob(kEntropy);
  DATA_BLOB out{};
  if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out)) {
    *error = "MailPassword cannot be unsealed on this machine (error " +
             std::to_string(GetLastError()) + "); set it again with Sendrik.exe /setpassword";
    return false;
  }
  password->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  SecureZeroMemory(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return true;
}

}  // namespace pelko::mail
