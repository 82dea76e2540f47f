// Root's registry store is readable by root alone: the password is kept as
// it is, a REG_SZ.
#include <cstring>

#include "agent/platform/registry.h"
#include "agent/platform/sql.h"

namespace pelko {

bool SealPassword(const std::string&, const std::string& password, SealedPassword* sealed,
                  std::string*) {
  sealed->type = kRegSz;
  sealed->data = password + '\0';
  return true;
}

bool OpenPassword(const std::string& purpose, const SealedPassword& sealed, std::string* password,
                  std::string* error, const std::string&) {
  if (sealed.type != kRegSz && sealed.type != kRegExpandSz) {
    *error = purpose + " is not a REG_SZ value";
    return false;
  }
  password->assign(sealed.data.c_str(), strnlen(sealed.data.c_str(), sealed.data.size()));
  return true;
}

}  // namespace pelko
