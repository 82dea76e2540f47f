#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "agent/platform/console.h"

namespace pelko {

bool StandardOutputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool WriteStandardOutput(std::string_view text, ConsoleText encoding) {
  if (!StandardOutputIsConsole()) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  }
  const UINT page = encoding == ConsoleText::kUtf8 ? CP_UTF8 : CP_ACP;
  const int size = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(page, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
  MultiByteToWideChar(page, 0, text.data(), size, wide.data(), units);
  // What went through the C runtime before shows first.
  std::fflush(stdout);
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  for (std::size_t at = 0; at < wide.size();) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
    if (!WriteConsoleW(console, wide.data() + at, chunk, &written, nullptr) || written == 0) return false;
    at += written;
  }
  return true;
}

}  // namespace pelko
