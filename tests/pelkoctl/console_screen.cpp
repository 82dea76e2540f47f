// Runs a command in a console of its own, as an administrator at cmd would,
// and writes what the console shows, in UTF-8, to OUT_FILE.
//   console_screen OUT_FILE COMMAND_LINE
// The command is given 60 s; exits 1 when it did not end, or could not run.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: console_screen OUT_FILE COMMAND_LINE\n");
    return 2;
  }
  FreeConsole();
  if (!AllocConsole()) return 1;
  STARTUPINFOA start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  std::string line = argv[2];
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                      &process)) {
    return 1;
  }
  const bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(out, &info)) return 1;
  std::wstring shown(static_cast<std::size_t>(info.dwSize.X) * (info.dwCursorPosition.Y + 1), L' ');
  DWORD read = 0;
  ReadConsoleOutputCharacterW(out, shown.data(), static_cast<DWORD>(shown.size()), {0, 0}, &read);
  shown.resize(read);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, shown.data(), static_cast<int>(shown.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, shown.data(), static_cast<int>(shown.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) return 1;
  const bool written = std::fwrite(utf8.data(), 1, utf8.size(), file) == utf8.size();
  return std::fclose(file) == 0 && written && ended ? 0 : 1;
}
