// Looks at the agent from outside and drives the registry values from
// inside Wine, for the Windows integration test.
//   probe read-dword PATH | read-string PATH
//   probe set-dword PATH N | set-string PATH TEXT
//   probe threads EXE       number of threads of the first process named EXE
//   probe windows EXE       number of top-level windows it owns
//   probe post-quit EXE     posts WM_QUIT to every thread of it that has a queue
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/config/registry_value.h"

namespace {

DWORD FindProcess(const char* exe) {
  DWORD pid = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32First(snapshot, &entry); ok && pid == 0;
       ok = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, exe) == 0) pid = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return pid;
}

template <typename F>
int ForEachThread(DWORD pid, F f) {
  int n = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == pid) {
      ++n;
      f(entry.th32ThreadID);
    }
  }
  CloseHandle(snapshot);
  return n;
}

struct WindowCount {
  DWORD pid;
  int count;
};

BOOL CALLBACK CountWindow(HWND window, LPARAM parameter) {
  auto* counting = reinterpret_cast<WindowCount*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == counting->pid) ++counting->count;
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string command = argv[1];
  pelko::Registry& registry = pelko::PlatformRegistry();
  if (command == "read-dword") {
    pelko::RegistryDwordValue value(registry, argv[2], 4242);
    std::printf("%u\n", value.Get());
  } else if (command == "read-string") {
    pelko::RegistryStringValue value(registry, argv[2], "<default>");
    std::printf("%s\n", value.Get().c_str());
  } else if (command == "set-dword" && argc == 4) {
    pelko::RegistryDwordValue value(registry, argv[2]);
    value.Set(static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
  } else if (command == "set-string" && argc == 4) {
    pelko::RegistryStringValue value(registry, argv[2]);
    value.Set(argv[3]);
  } else if (command == "threads" || command == "windows" || command == "post-quit") {
    const DWORD pid = FindProcess(argv[2]);
    if (pid == 0) {
      std::printf("none\n");
      return 1;
    }
    if (command == "threads") {
      std::printf("%d\n", ForEachThread(pid, [](DWORD) {}));
    } else if (command == "windows") {
      WindowCount counting{pid, 0};
      EnumWindows(&CountWindow, reinterpret_cast<LPARAM>(&counting));
      std::printf("%d\n", counting.count);
    } else {
      int posted = 0;
      ForEachThread(
          pid, [&](DWORD thread) { posted += PostThreadMessageA(thread, WM_QUIT, 0, 0) != 0; });
      std::printf("%d\n", posted);
      return posted > 0 ? 0 : 1;
    }
  } else {
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
