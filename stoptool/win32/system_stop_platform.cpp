#include "stoptool/win32/system_stop_platform.h"

#include <windows.h>
#include <tlhelp32.h>

#include "stoptool/win32/stop_tool.h"

namespace pelko::stoptool {
namespace {

// The access mask older SDKs call PROCESS_ALL_ACCESS; newer headers widen it
// to 0x1FFFFF, which systems before Vista refuse.
constexpr DWORD kAllAccess = 0x1F0FFF;

class Win32ProcessSnapshot : public ProcessSnapshot {
 public:
  explicit Win32ProcessSnapshot(HANDLE snapshot) : snapshot(snapshot) {}
  ~Win32ProcessSnapshot() override { CloseHandle(snapshot); }
  Win32ProcessSnapshot(const Win32ProcessSnapshot&) = delete;
  Win32ProcessSnapshot& operator=(const Win32ProcessSnapshot&) = delete;

  bool First(ProcessEntry* entry) override {
    record = {};
    // The record's own size, which differs between 32-bit (296 bytes) and
    // 64-bit (304) builds; Process32First refuses any other value (error 122).
    record.dwSize = sizeof(PROCESSENTRY32);
    return Copy(Process32First(snapshot, &record), entry);
  }

  bool Next(ProcessEntry* entry) override { return Copy(Process32Next(snapshot, &record), entry); }

 private:
  bool Copy(BOOL found, ProcessEntry* entry) const {
    if (!found) return false;
    entry->id = record.th32ProcessID;
    // szExeFile is terminated, but do not trust it to be.
    const char* name = record.szExeFile;
    size_t length = 0;
    while (length < sizeof(record.szExeFile) && name[length] != '\0') ++length;
    entry->exeName.assign(name, length);
    return true;
  }

  HANDLE snapshot;
  PROCESSENTRY32 record{};
};

}  // namespace

bool Win32StopPlatform::StartUp() {
  return GetModuleHandleA(nullptr) != nullptr && GetCommandLineA() != nullptr;
}

std::optional<StopPlatform::WindowId> Win32StopPlatform::FindWindowByTitle(
    const std::string& title) {
  HWND window = FindWindowA(nullptr, title.c_str());
  if (window == nullptr) return std::nullopt;
  return reinterpret_cast<WindowId>(window);
}

void Win32StopPlatform::PostClose(WindowId window) {
  PostMessageA(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0);
}

std::unique_ptr<ProcessSnapshot> Win32StopPlatform::TakeSnapshot() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32ProcessSnapshot>(snapshot);
}

bool Win32StopPlatform::TerminateProcessById(uint32_t id) {
  HANDLE process = OpenProcess(kAllAccess, FALSE, id);
  if (process == nullptr) return false;
  bool ended = TerminateProcess(process, 0) != FALSE;
  CloseHandle(process);
  return ended;
}

bool AnsiEqualsIgnoringCase(const std::string& a, const std::string& b, uint32_t locale) {
  if (a.size() > 0x7FFFFFFF || b.size() > 0x7FFFFFFF) return false;
  return CompareStringA(locale, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                        static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool IsAgentExeName(const std::string& exeName) {
  return AnsiEqualsIgnoringCase(exeName, kAgentExeName, LOCALE_SYSTEM_DEFAULT);
}

std::unique_ptr<StopPlatform> MakeSystemStopPlatform() {
  return std::make_unique<Win32StopPlatform>();
}

}  // namespace pelko::stoptool
