#include "sendrik/mail_password.h"

#include <cstring>

#include "agent/platform/registry.h"

namespace pelko::mail {

bool SealPassword(const std::string& password, uint32_t* type, std::string* data,
                  std::string*) {
  *type = kRegSz;
  *data = password + '\0';
  return true;
}

bool OpenPassword(uint32_t type, const std::string& data, std::string* password,
                  std::string* error) {
  if (type != kRegSz && type != kRegExpandSz) {
    *error = "MailPassword is not a REG_SZ value";
    return false;
  }
  password->assign(data.c_str(), strnlen(data.c_str(), data.size()));
  return true;
}

}  // namespace pelko::mail
