// CUPS gives names (users, titles) in UTF-8; the daily logs declare
// ISO-8859-1, as Windows gives them in its ANSI code page.
#pragma once

#include <string>

namespace pelko {

// The text in ISO-8859-1: every character it cannot hold, and every byte
// that is not part of well-formed UTF-8, becomes one "?".
std::string Latin1FromUtf8(const std::string& utf8);

}  // namespace pelko
