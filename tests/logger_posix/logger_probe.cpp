// Writes lines through the platform's Logger, for the logger's test.
//   logger_probe error|warning|info ID LINE...   (ID an event ID, such as 3001)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/platform/logger.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: logger_probe error|warning|info ID LINE...\n");
    return 2;
  }
  const pelko::Severity severity = std::strcmp(argv[1], "error") == 0  ? pelko::Severity::kError
                                   : std::strcmp(argv[1], "info") == 0 ? pelko::Severity::kInfo
                                                                       : pelko::Severity::kWarning;
  const auto kind = static_cast<pelko::EventKind>(std::atoi(argv[2]));
  for (int i = 3; i < argc; ++i) pelko::PlatformLogger().Write(severity, kind, argv[i]);
  return 0;
}
