// The agent's account appends here, in a folder that others may write: the
// log is opened without following a reparse point and taken only when it
// is a regular disk file with one name whose owner is this account, SYSTEM
// or Administrators.
#include <windows.h>

#include "agent/platform/win32/file_owner.h"
#include "sendrik/sendrik_log.h"

namespace pelko::mail {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void Reset(HANDLE other = INVALID_HANDLE_VALUE) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = other;
  }
  HANDLE get() const { return h; }
  bool ok() const { return h != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h;
};

std::string Failed(const std::string& what) {
  return what + ": error " + std::to_string(GetLastError());
}

HANDLE OpenLog(const std::string& path, std::string* why) {
  constexpr DWORD kAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = CreateFileA(path.c_str(), kAccess, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    file = CreateFileA(path.c_str(), kAccess, kShare, nullptr, CREATE_NEW, kFlags, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) {
    *why = Failed(path);
    return file;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    *why = path + " is not a regular file";
  } else if (info.nNumberOfLinks != 1) {
    *why = path + " has other names (hard links)";
  } else if (!OwnedByTrustedAccount(file)) {
    *why = path + " belongs to another account";
  } else {
    return file;
  }
  CloseHandle(file);
  return INVALID_HANDLE_VALUE;
}

bool IsFull(HANDLE file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) >= kLogLimit;
}

}  // namespace

bool AppendToSendrikLog(const std::string& folder, std::string_view text, std::string* why) {
  const std::string path = folder + "\\" + kLogName;
  Handle log(OpenLog(path, why));
  if (!log.ok()) return false;
  if (IsFull(log.get())) {
    // MoveFileEx acts on names: a reparse point at either name is moved or
    // replaced itself, never what it points to.
    log.Reset();
    if (!MoveFileExA(path.c_str(), (folder + "\\" + kOldLogName).c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
      *why = Failed(path + " cannot be moved to " + kOldLogName);
      return false;
    }
    log.Reset(OpenLog(path, why));
    if (!log.ok()) return false;
  }
  DWORD wrote = 0;
  if (!WriteFile(log.get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) ||
      wrote != text.size()) {
    *why = Failed(path);
    return false;
  }
  return true;
}

}  // namespace pelko::mail
