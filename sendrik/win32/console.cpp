#include "sendrik/console.h"

#include <windows.h>

#include <cstdio>

#include "agent/platform/password_line.h"

namespace pelko::mail {

namespace {

// The console window opened for the password; none until then.
HANDLE ownIn = INVALID_HANDLE_VALUE;
HANDLE ownOut = INVALID_HANDLE_VALUE;

bool Leads(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

void Put(HANDLE out, const std::string& text) {
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// One line typed, without its line break; false when it is too long.
bool ReadLine(HANDLE in, std::string* line) {
  line->clear();
  char c = 0;
  DWORD got = 0;
  while (ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
    if (c != '\r') *line += c;
    if (line->size() > kMaxPasswordBytes) return false;
  }
  return true;
}

bool OpenOwnConsole(std::string* why) {
  // A console inherited (a console program's child) is the caller's too.
  FreeConsole();
  if (!AllocConsole()) {
    *why = "no console window can be opened (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  SetConsoleTitleA("Sendrik: mail password");
  ownIn = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
  ownOut = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
  if (ownIn == INVALID_HANDLE_VALUE || ownOut == INVALID_HANDLE_VALUE) {
    *why = "the console window cannot be read";
    return false;
  }
  return true;
}

}  // namespace

void ReachCaller() {
  const bool out = Leads(GetStdHandle(STD_OUTPUT_HANDLE));
  if (Leads(GetStdHandle(STD_ERROR_HANDLE)) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!out) std::freopen("CONOUT$", "w", stdout);
  if (std::freopen("CONOUT$", "w", stderr) != nullptr) std::fputs("\n", stderr);
}

bool ReadTypedPassword(std::string* password, std::string* why) {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  const DWORD type = Leads(in) ? GetFileType(in) : FILE_TYPE_UNKNOWN;
  if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
    if (ReadPasswordLine("", password)) return true;
    *why = "the password is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
    return false;
  }
  if (!OpenOwnConsole(why)) return false;
  DWORD mode = 0;
  GetConsoleMode(ownIn, &mode);
  SetConsoleMode(ownIn, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
  Put(ownOut, "Mail password for Pelko (not shown as you type): ");
  const bool read = ReadLine(ownIn, password);
  SetConsoleMode(ownIn, mode);
  Put(ownOut, "\r\n");
  if (!read) *why = "the password is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
  return read;
}

void TellCaller(const std::string& line) {
  if (ownOut != INVALID_HANDLE_VALUE) {
    Put(ownOut, line + "\r\nPress Enter to close this window.");
    std::string ignored;
    ReadLine(ownIn, &ignored);
    CloseHandle(ownIn);
    CloseHandle(ownOut);
    ownIn = ownOut = INVALID_HANDLE_VALUE;
    FreeConsole();
  }
  ReachCaller();
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace pelko::mail
