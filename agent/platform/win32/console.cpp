#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "agent/platform/console.h"

namespace pelko {

namespace {

HANDLE HandleOf(StandardStream stream) {
  return GetStdHandle(stream == StandardStream::kError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

}  // namespace

bool StandardOutputIsConsole(StandardStream stream) {
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

bool WriteStandardOutput(std::string_view text, ConsoleText encoding, StandardStream stream) {
  FILE* file = stream == StandardStream::kError ? stderr : stdout;
  if (!StandardOutputIsConsole(stream)) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size();
  }
  const UINT page = encoding == ConsoleText::kUtf8 ? CP_UTF8 : CP_ACP;
  const int size = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(page, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
  MultiByteToWideChar(page, 0, text.data(), size, wide.data(), units);
  // What went through the C runtime before shows first.
  std::fflush(file);
  HANDLE console = HandleOf(stream);
  for (std::size_t at = 0; at < wide.size();) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
    if (!WriteConsoleW(console, wide.data() + at, chunk, &written, nullptr) || written == 0)
      return false;
    at += written;
  }
  return true;
}

}  // namespace pelko
