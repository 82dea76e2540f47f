#include <cstdio>

#include "agent/platform/console.h"

namespace pelko {

bool StandardOutputIsConsole(StandardStream) { return false; }

bool WriteStandardOutput(std::string_view text, ConsoleText, StandardStream stream) {
  FILE* file = stream == StandardStream::kError ? stderr : stdout;
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace pelko
