// Sits at the console window another program opened, as a person would:
// waits for PROMPT on its screen, types LINE and Enter, waits for DONE,
// prints what the screen showed, and presses Enter once more.
//   console_typist PROGRAM.exe PROMPT LINE DONE
// Every wait is bounded (30 s); exits 1 when one ran out.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

namespace {

DWORD ProcessNamed(const char* name) {
  HANDLE all = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  DWORD found = 0;
  for (BOOL more = Process32First(all, &entry); more && found == 0;
       more = Process32Next(all, &entry)) {
    if (lstrcmpiA(entry.szExeFile, name) == 0) found = entry.th32ProcessID;
  }
  CloseHandle(all);
  return found;
}

std::string Screen(HANDLE out) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(out, &info)) return "";
  std::string text(static_cast<std::size_t>(info.dwSize.X) * (info.dwCursorPosition.Y + 1), ' ');
  DWORD read = 0;
  ReadConsoleOutputCharacterA(out, text.data(), static_cast<DWORD>(text.size()), {0, 0}, &read);
  text.resize(read);
  return text;
}

bool WaitFor(HANDLE out, const char* words) {
  for (int i = 0; i < 300; ++i) {
    if (Screen(out).find(words) != std::string::npos) return true;
    Sleep(100);
  }
  return false;
}

void Type(HANDLE in, const std::string& line) {
  for (char c : line + "\r") {
    INPUT_RECORD key[2] = {};
    for (int down = 0; down < 2; ++down) {
      key[down].EventType = KEY_EVENT;
      key[down].Event.KeyEvent.bKeyDown = down == 0;
      key[down].Event.KeyEvent.wRepeatCount = 1;
      key[down].Event.KeyEvent.wVirtualKeyCode = c == '\r' ? VK_RETURN : 0;
      key[down].Event.KeyEvent.uChar.AsciiChar = c;
    }
    DWORD written = 0;
    WriteConsoleInputA(in, key, 2, &written);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: console_typist PROGRAM.exe PROMPT LINE DONE\n");
    return 2;
  }
  FreeConsole();
  bool attached = false;
  for (int i = 0; i < 300 && !attached; ++i) {
    const DWORD program = ProcessNamed(argv[1]);
    attached = program != 0 && AttachConsole(program);
    if (!attached) Sleep(100);
  }
  if (!attached) return 1;
  HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (!WaitFor(out, argv[2])) return 1;
  Type(in, argv[3]);
  if (!WaitFor(out, argv[4])) return 1;
  const std::string shown = Screen(out);
  Type(in, "");
  FreeConsole();
  std::printf("%s\n", shown.c_str());
  return 0;
}
