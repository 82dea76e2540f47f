// Writes lines through the platform's Logger, for the logger's test.
//   logger_probe error|warning|info LINE...
#include <cstdio>
#include <cstring>

#include "agent/platform/logger.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: logger_probe error|warning|info LINE...\n");
    return 2;
  }
  const pelko::Severity severity = std::strcmp(argv[1], "error") == 0   ? pelko::Severity::kError
                                   : std::strcmp(argv[1], "info") == 0  ? pelko::Severity::kInfo
                                                                        : pelko::Severity::kWarning;
  for (int i = 2; i < argc; ++i) pelko::PlatformLogger().Write(severity, argv[i]);
  return 0;
}
