#include "pelkoctl/log_text.h"

#include "agent/logs/log_format.h"
#include "agent/util/unicode.h"

namespace pelko::ctl {

std::string LogTextForUser(std::string text) {
#ifdef _WIN32
  return DeclaresUtf8(text) ? Utf8ToWindows1252(text) : text;
#else
  return DeclaresUtf8(text) ? text : Windows1252ToUtf8(text);
#endif
}

}  // namespace pelko::ctl
