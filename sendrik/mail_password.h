// How MailPassword is kept. On Windows, where every user can read
// HKLM\Software, it is protected with DPAPI for this machine (REG_BINARY);
// on POSIX the registry store is root's alone and it is a REG_SZ.
#pragma once

#include <cstdint>
#include <string>

namespace pelko::mail {

// The registry type and data that keep password.
bool SealPassword(const std::string& password, uint32_t* type, std::string* data,
                  std::string* error);

// The password from the stored type and data.
bool OpenPassword(uint32_t type, const std::string& data, std::string* password,
                  std::string* error);

}  // namespace pelko::mail
