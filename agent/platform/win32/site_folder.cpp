// Win32 keeps no folder open: each name is looked at without following a
// reparse point (link or junction) before it is read, replaced or removed.
#include "agent/platform/site_folder.h"

#include <windows.h>

namespace pelko {

namespace {

bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (const char c : name) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) return false;
  }
  return true;
}

FileStatus FromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FileStatus::kMissing;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
      return FileStatus::kBusy;
    default:
      return FileStatus::kFailed;
  }
}

constexpr DWORD kNotFile =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

bool WriteAll(HANDLE file, std::string_view data) {
  while (!data.empty()) {
    const DWORD chunk = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
    DWORD wrote = 0;
    if (!WriteFile(file, data.data(), chunk, &wrote, nullptr) || wrote == 0) return false;
    data.remove_prefix(wrote);
  }
  return true;
}

class Win32SiteFolder : public SiteFolder {
 public:
  explicit Win32SiteFolder(std::string path) : path(std::move(path)) {}

  std::vector<SiteEntry> List() override {
    std::vector<SiteEntry> entries;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      entries.push_back({name, static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow,
                         (data.dwFileAttributes & kNotFile) == 0});
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return entries;
  }

  FileStatus Read(const std::string& name, uint64_t limit, std::string* bytes) override {
    bytes->clear();
    if (!IsPlainName(name)) return FileStatus::kMissing;
    HANDLE file =
        CreateFileA(At(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FromError(GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    FileStatus status = FileStatus::kOk;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & kNotFile) != 0) {
      status = FileStatus::kNotRegular;
    }
    char chunk[1 << 16];
    while (status == FileStatus::kOk) {
      DWORD got = 0;
      if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) status = FileStatus::kFailed;
      if (got == 0) break;
      if (bytes->size() + got > limit) status = FileStatus::kTooLarge;
      bytes->append(chunk, got);
    }
    CloseHandle(file);
    if (status != FileStatus::kOk) bytes->clear();
    return status;
  }

  FileStatus Replace(const std::string& name, std::string_view bytes) override {
    if (!IsPlainName(name)) return FileStatus::kFailed;
    const DWORD attributes = GetFileAttributesA(At(name).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kNotFile) != 0) {
      return FileStatus::kNotRegular;
    }
    // Made new: a file someone put at the temporary name would keep its
    // owner and rights if it were written over.
    const std::string temporary = At(SiteTemporaryName(name));
    DeleteFileA(temporary.c_str());
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FromError(GetLastError());
    const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
    CloseHandle(file);
    if (!written || !MoveFileExA(temporary.c_str(), At(name).c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const FileStatus status = written ? FromError(GetLastError()) : FileStatus::kFailed;
      DeleteFileA(temporary.c_str());
      return status;
    }
    return FileStatus::kOk;
  }

  FileStatus Remove(const std::string& name) override {
    if (!IsPlainName(name)) return FileStatus::kFailed;
    const DWORD attributes = GetFileAttributesA(At(name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FromError(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileStatus::kNotRegular;
    return DeleteFileA(At(name).c_str()) ? FileStatus::kOk : FromError(GetLastError());
  }

 private:
  std::string At(const std::string& name) const { return path + "\\" + name; }

  std::string path;
};

}  // namespace

std::unique_ptr<SiteFolder> OpenSiteFolder(const std::string& path, std::string* error) {
  std::string folder = path;
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/') &&
         folder[folder.size() - 2] != ':') {
    folder.pop_back();
  }
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    *error = path + ": the folder cannot be made (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *error = path + ": not a folder";
    return nullptr;
  }
  return std::make_unique<Win32SiteFolder>(folder);
}

}  // namespace pelko
