#include <cstdio>

#include "agent/platform/console.h"

namespace pelko {

bool StandardOutputIsConsole() { return false; }

bool WriteStandardOutput(std::string_view text, ConsoleText) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

}  // namespace pelko
