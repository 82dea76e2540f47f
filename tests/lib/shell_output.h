// What a shell command printed, standard error included: for tests that
// drive the system's own tools (lp, cancel, ps).
#pragma once

#include <cstdio>
#include <string>

namespace pelko {

inline std::string Shell(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  pclose(pipe);
  return output;
}

}  // namespace pelko
