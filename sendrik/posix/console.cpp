#include "sendrik/console.h"

#include <cstdio>

#include "agent/platform/password_line.h"

namespace pelko::mail {

void ReachCaller() {}

bool ReadTypedPassword(std::string* password, std::string* why) {
  if (ReadPasswordLine("Mail password: ", password)) return true;
  *why = "the password is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
  return false;
}

void TellCaller(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

}  // namespace pelko::mail
