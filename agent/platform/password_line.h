// A password as the administrators' tools take it: from standard input,
// never from a command line, where any user could read it.
#pragma once

#include <cstddef>
#include <string>

namespace pelko {

inline constexpr std::size_t kMaxPasswordBytes = 1024;

// The first line of standard input, without its line end. Typed at a
// terminal, prompt is shown on standard error and the line is not echoed
// (POSIX). False when the line is longer than kMaxPasswordBytes.
bool ReadPasswordLine(const char* prompt, std::string* password);

}  // namespace pelko
