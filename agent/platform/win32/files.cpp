#include "agent/platform/files.h"

#include <windows.h>

#include "agent/platform/win32/file_owner.h"

namespace pelko {

namespace {

constexpr std::size_t kWriteBuffer = 1 << 16;

FileStatus FromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return FileStatus::kMissing;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
      return FileStatus::kBusy;
    default:
      return FileStatus::kFailed;
  }
}

uint64_t Join(DWORD high, DWORD low) { return static_cast<uint64_t>(high) << 32 | low; }

void FillEntry(const WIN32_FIND_DATAA& data, FileEntry* entry) {
  entry->name = data.cFileName;
  entry->attributes = data.dwFileAttributes;
  entry->created = Join(data.ftCreationTime.dwHighDateTime, data.ftCreationTime.dwLowDateTime);
  entry->lastWritten =
      Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
  entry->size = Join(data.nFileSizeHigh, data.nFileSizeLow);
}

class Win32Search : public FileSearch {
 public:
  Win32Search(HANDLE handle, const WIN32_FIND_DATAA& first) : handle(handle), data(first) {}
  ~Win32Search() override { FindClose(handle); }

  bool Next(FileEntry* entry) override {
    if (!pending) return false;
    FillEntry(data, entry);
    pending = FindNextFileA(handle, &data) != 0;
    return true;
  }

 private:
  HANDLE handle;
  WIN32_FIND_DATAA data;
  bool pending = true;
};

// Null when nothing matches.
std::unique_ptr<FileSearch> StartSearch(const std::string& pattern) {
  WIN32_FIND_DATAA data;
  HANDLE handle = FindFirstFileA(pattern.c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32Search>(handle, data);
}

FileStatus DeletePath(const std::string& path) {
  if (DeleteFileA(path.c_str())) return FileStatus::kOk;
  return FromError(GetLastError());
}

bool IsWin32NameByte(unsigned char c) {
  if (c < 0x20) return false;
  switch (c) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
      return false;
    default:
      return true;
  }
}

// One name within a folder: no path, and no wildcard that a look-up
// would expand.
bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (!IsWin32NameByte(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// What stands at path, without following a link or junction; false when
// nothing does.
bool LookUp(const std::string& path, WIN32_FIND_DATAA* data) {
  HANDLE handle = FindFirstFileA(path.c_str(), data);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FindClose(handle);
  return true;
}

FileStatus ReadRegular(HANDLE file, std::string* text, FileId* id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return FileStatus::kNotRegular;
  }
  if (!OwnedByTrustedAccount(file)) return FileStatus::kNotOurs;
  if (id != nullptr) {
    *id = FileId{info.dwVolumeSerialNumber, Join(info.nFileIndexHigh, info.nFileIndexLow)};
  }
  const uint64_t size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  if (size > kMaxTextFileBytes) return FileStatus::kTooLarge;
  text->reserve(static_cast<std::size_t>(size));
  char chunk[1 << 16];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) return FileStatus::kFailed;
    if (got == 0) return FileStatus::kOk;
    if (text->size() + got > kMaxTextFileBytes) return FileStatus::kTooLarge;
    text->append(chunk, got);
  }
}

// The whole file at path in text mode: CR LF reads as LF.
FileStatus ReadTextAt(const std::string& path, std::string* text, FileId* id) {
  text->clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FromError(GetLastError());
  const FileStatus status = ReadRegular(file, text, id);
  CloseHandle(file);
  if (status != FileStatus::kOk) {
    text->clear();
    return status;
  }
  if (text->find('\r') != std::string::npos) {
    std::size_t out = 0;
    for (std::size_t in = 0; in < text->size(); ++in) {
      if ((*text)[in] == '\r' && in + 1 < text->size() && (*text)[in + 1] == '\n') continue;
      (*text)[out++] = (*text)[in];
    }
    text->resize(out);
  }
  return FileStatus::kOk;
}

// Win32 deletes by name and keeps nothing open between a listing and a
// delete; a folder is entered only when it is no reparse point, which is
// as near as it comes to the POSIX folder held open.
class Win32Folder : public Folder {
 public:
  explicit Win32Folder(std::string path) : path(std::move(path)) {}

  std::unique_ptr<FileSearch> Find(const std::string& pattern) override {
    return StartSearch(path + "\\" + pattern);
  }

  std::unique_ptr<Folder> OpenFolder(const std::string& name) override {
    WIN32_FIND_DATAA data;
    if (!IsPlainName(name) || !LookUp(path + "\\" + name, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return nullptr;
    }
    return std::make_unique<Win32Folder>(path + "\\" + name);
  }

  FileStatus Delete(const std::string& name) override {
    if (!IsPlainName(name)) return FileStatus::kFailed;
    return DeletePath(path + "\\" + name);
  }

  FileStatus ReadText(const std::string& name, std::string* text, FileId* id) override {
    if (!IsPlainName(name)) return FileStatus::kMissing;
    return ReadTextAt(path + "\\" + name, text, id);
  }

  // MoveFileEx moves a reparse point itself, never what it points to.
  FileStatus Rename(const std::string& from, const std::string& to) override {
    if (!IsPlainName(from) || !IsPlainName(to)) return FileStatus::kFailed;
    if (MoveFileExA((path + "\\" + from).c_str(), (path + "\\" + to).c_str(), 0)) {
      return FileStatus::kOk;
    }
    return FromError(GetLastError());
  }

 private:
  std::string path;
};

// Text mode: a line feed is written as CR LF.
void AppendTextMode(std::string& out, std::string_view text) {
  std::size_t from = 0;
  for (std::size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', from)) {
    out.append(text.substr(from, at - from));
    out.append("\r\n");
    from = at + 1;
  }
  out.append(text.substr(from));
}

bool WriteAll(HANDLE file, const std::string& data) {
  const char* at = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD wrote = 0;
    if (!WriteFile(file, at, chunk, &wrote, nullptr) || wrote == 0) return false;
    at += wrote;
    left -= wrote;
  }
  return true;
}

class Win32Writer : public ReplacingWriter {
 public:
  Win32Writer(std::string path, std::string temporary, HANDLE file)
      : path(std::move(path)), temporary(std::move(temporary)), file(file) {}
  ~Win32Writer() override { Discard(); }

  bool Append(std::string_view text) override {
    if (file == INVALID_HANDLE_VALUE || failed) return false;
    AppendTextMode(buffer, text);
    if (buffer.size() >= kWriteBuffer && !Flush()) failed = true;
    return !failed;
  }

  FileStatus Commit() override {
    if (done) return FileStatus::kFailed;
    if (file != INVALID_HANDLE_VALUE) {
      const bool written = !failed && Flush() && FlushFileBuffers(file);
      CloseHandle(file);
      file = INVALID_HANDLE_VALUE;
      if (!written) {
        Discard();
        return FileStatus::kFailed;
      }
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const FileStatus status = FromError(GetLastError());
      if (status != FileStatus::kBusy) Discard();
      return status;
    }
    done = true;
    return FileStatus::kOk;
  }

 private:
  bool Flush() {
    if (!WriteAll(file, buffer)) return false;
    buffer.clear();
    return true;
  }

  void Discard() {
    if (done) return;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    DeleteFileA(temporary.c_str());
    done = true;
  }

  std::string path;
  std::string temporary;
  HANDLE file;
  bool failed = false;
  bool done = false;
  std::string buffer;
};

// Reads a plain disk file, not a link, up to kMaxTextFileBytes.
class Win32FileSystem : public FileSystem {
 public:
  char Separator() const override { return '\\'; }
  bool IsNameByte(unsigned char c) const override { return IsWin32NameByte(c); }

  std::unique_ptr<FileSearch> Find(const std::string& pattern) override {
    return StartSearch(pattern);
  }

  std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
    std::string folder = path;
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/') &&
           folder[folder.size() - 2] != ':') {
      folder.pop_back();
    }
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return nullptr;
    }
    return std::make_unique<Win32Folder>(folder);
  }

  bool Exists(const std::string& path) override {
    WIN32_FIND_DATAA data;
    return LookUp(path, &data);
  }

  FileStatus ReadText(const std::string& path, std::string* text) override {
    return ReadTextAt(path, text, nullptr);
  }

  FileStatus BeginReplace(const std::string& path,
                          std::unique_ptr<ReplacingWriter>* writer) override {
    writer->reset();
    std::string temporary = path + ".tmp";
    // Made new: a file someone else put at the name would keep its owner
    // and rights if it were overwritten, and a link would be written
    // through. One held by another writer of the agent cannot be deleted.
    if (!DeleteFileA(temporary.c_str())) {
      const DWORD error = GetLastError();
      if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        return FileStatus::kBusy;
      }
    }
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_EXISTS ? FileStatus::kBusy : FromError(error);
    }
    *writer = std::make_unique<Win32Writer>(path, std::move(temporary), file);
    return FileStatus::kOk;
  }

  FileStatus Delete(const std::string& path) override { return DeletePath(path); }
};

}  // namespace

FileSystem& PlatformFileSystem() {
  static Win32FileSystem service;
  return service;
}

}  // namespace pelko
