// POSIX has no share modes: every open here takes the file's lock
// (file_locks.h), which excludes every other such open, in this process and
// in other agent processes. Programs that do not take the lock are not kept
// out, as Linux tools ignore Win32 share modes too; nor can they keep the
// agent out, since only the agent's user can reach the locks.
//
// The agent runs as root, and anyone may be able to write the logs folder:
// temporary files are always made new, never opened through a link, files
// are read only when regular, and the purge deletes through the folders it
// opened.
#include "agent/platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/platform/posix/files/fd_io.h"
#include "agent/platform/posix/files/file_locks.h"

namespace pelko {

namespace {

// A stale temporary file replaced by someone else between its removal and
// the new one's creation: tried again a few times at most.
constexpr int kCreateAttempts = 4;
constexpr std::size_t kWriteBuffer = 1 << 16;
constexpr mode_t kDefaultLogMode = 0640;

FileStatus FromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return FileStatus::kMissing;
    case EWOULDBLOCK:
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
      return FileStatus::kBusy;
    case ELOOP:
    case EISDIR:
      return FileStatus::kNotRegular;
    default:
      return FileStatus::kFailed;
  }
}

// PELKO_LOG_MODE (octal) may let the group or others read the logs; no one
// but the agent ever writes them.
mode_t LogFileMode() {
  static const mode_t kLogMode = [] {
    const char* text = std::getenv("PELKO_LOG_MODE");
    if (text == nullptr || *text == '\0') return kDefaultLogMode;
    char* end = nullptr;
    const unsigned long asked = std::strtoul(text, &end, 8);
    if (*end != '\0') return kDefaultLogMode;
    return static_cast<mode_t>((asked & 0644) | 0600);
  }();
  return kLogMode;
}

// One name inside one folder, never a way out of it.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

uint64_t ToFileTime(const statx_timestamp& t) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
  return static_cast<uint64_t>((t.tv_sec + kSecondsFrom1601To1970) * 10000000LL + t.tv_nsec / 100);
}

bool FillEntry(int folder, const char* name, FileEntry* entry) {
  struct statx info;
  if (statx(folder, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &info) != 0) {
    return false;
  }
  entry->name = name;
  uint32_t attributes = 0;
  mode_t mode = info.stx_mode;
  if (S_ISLNK(mode)) {
    attributes |= kAttributeReparsePoint;
    struct stat target;
    mode = fstatat(folder, name, &target, 0) == 0 ? target.st_mode : 0;
  }
  if (S_ISDIR(mode)) {
    attributes |= kAttributeDirectory;
  } else {
    attributes |= kAttributeArchive;
  }
  if ((info.stx_mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
  entry->attributes = attributes;
  entry->lastWritten = ToFileTime(info.stx_mtime);
  entry->created =
      (info.stx_mask & STATX_BTIME) != 0 ? ToFileTime(info.stx_btime) : entry->lastWritten;
  entry->size = S_ISDIR(mode) ? 0 : info.stx_size;
  return true;
}

class PosixSearch : public FileSearch {
 public:
  PosixSearch(DIR* dir, std::string pattern) : dir(dir), pattern(std::move(pattern)) {}
  ~PosixSearch() override { closedir(dir); }

  // Reads ahead to the first match, so that an enumeration without any
  // match fails to start, as FindFirstFileA does.
  bool Start() { return Advance(); }

  bool Next(FileEntry* entry) override {
    if (!pending) return false;
    *entry = std::move(next);
    Advance();
    return true;
  }

 private:
  bool Advance() {
    pending = false;
    while (dirent* found = readdir(dir)) {
      if (!MatchesPattern(found->d_name, pattern)) continue;
      if (!FillEntry(dirfd(dir), found->d_name, &next)) continue;
      pending = true;
      return true;
    }
    return false;
  }

  DIR* dir;
  std::string pattern;
  FileEntry next;
  bool pending = false;
};

FileStatus ReadRegular(int fd, std::string* text);

// name in the open folder dirFd: looked at before the open, since opening
// a device can do things, and again once open, since the name may have
// been given to another file in between.
FileStatus ReadAt(int dirFd, const std::string& name, std::string* text, FileId* id) {
  text->clear();
  if (!IsPlainName(name)) return FileStatus::kMissing;
  FileLock lock;
  const FileStatus locked = lock.Acquire(dirFd, name);
  if (locked != FileStatus::kOk) return locked;
  struct stat info;
  if (fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return FromErrno(errno);
  if (!S_ISREG(info.st_mode)) return FileStatus::kNotRegular;
  if (info.st_uid != geteuid()) return FileStatus::kNotOurs;
  const int fd =
      openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno);
  FileStatus status = FileStatus::kFailed;
  if (fstat(fd, &info) == 0) {
    status = !S_ISREG(info.st_mode)     ? FileStatus::kNotRegular
             : info.st_uid != geteuid() ? FileStatus::kNotOurs
                                        : ReadRegular(fd, text);
  }
  close(fd);
  if (status != FileStatus::kOk) text->clear();
  if (id != nullptr)
    *id = FileId{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  return status;
}

class PosixFolder : public Folder {
 public:
  explicit PosixFolder(int fd) : fd(fd) {}
  ~PosixFolder() override { close(fd); }

  std::unique_ptr<FileSearch> Find(const std::string& pattern) override {
    DIR* dir = ListFolder(fd);
    if (dir == nullptr) return nullptr;
    auto search = std::make_unique<PosixSearch>(dir, pattern);
    if (!search->Start()) return nullptr;
    return search;
  }

  std::unique_ptr<Folder> OpenFolder(const std::string& name) override {
    if (!IsPlainName(name)) return nullptr;
    const int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) return nullptr;
    return std::make_unique<PosixFolder>(sub);
  }

  FileStatus Delete(const std::string& name) override {
    if (!IsPlainName(name)) return FileStatus::kFailed;
    FileLock lock;
    const FileStatus locked = lock.Acquire(fd, name);
    if (locked != FileStatus::kOk) return locked;
    return unlinkat(fd, name.c_str(), 0) == 0 ? FileStatus::kOk : FromErrno(errno);
  }

  FileStatus ReadText(const std::string& name, std::string* text, FileId* id) override {
    return ReadAt(fd, name, text, id);
  }

  FileStatus Rename(const std::string& from, const std::string& to) override {
    if (!IsPlainName(from) || !IsPlainName(to)) return FileStatus::kFailed;
    if (renameat2(fd, from.c_str(), fd, to.c_str(), RENAME_NOREPLACE) == 0) return FileStatus::kOk;
    return errno == EEXIST ? FileStatus::kBusy : FromErrno(errno);
  }

 private:
  int fd;
};

class PosixWriter : public ReplacingWriter {
 public:
  PosixWriter(int folder, std::string name, std::string temporary, int fd, FileLock lock)
      : folder(folder),
        name(std::move(name)),
        temporary(std::move(temporary)),
        fd(fd),
        lock(std::move(lock)) {}
  ~PosixWriter() override {
    Discard();
    close(folder);
  }

  bool Append(std::string_view text) override {
    if (fd < 0 || failed) return false;
    if (buffer.size() + text.size() <= kWriteBuffer) {
      buffer.append(text);
      return true;
    }
    if (!Flush() || WriteAll(fd, text) != 0) failed = true;
    return !failed;
  }

  FileStatus Commit() override {
    if (fd < 0) return FileStatus::kFailed;
    if (failed || !Flush() || fsync(fd) != 0) {
      Discard();
      return FileStatus::kFailed;
    }
    // Win32 refuses to replace a file that another open holds; so does this.
    FileLock target;
    const FileStatus held = target.Acquire(folder, name);
    if (held == FileStatus::kBusy) return held;
    if (held != FileStatus::kOk) {
      Discard();
      return held;
    }
    // Someone who may write the folder could have put a file of theirs in
    // the temporary's place; that is never made the log.
    if (!StillNamed(folder, fd, temporary)) {
      Discard();
      return FileStatus::kFailed;
    }
    if (renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
      const FileStatus status = FromErrno(errno);
      if (status == FileStatus::kBusy) return status;
      Discard();
      return status;
    }
    fsync(folder);
    close(fd);
    fd = -1;
    return FileStatus::kOk;
  }

 private:
  bool Flush() {
    if (WriteAll(fd, buffer) != 0) return false;
    buffer.clear();
    return true;
  }

  void Discard() {
    if (fd < 0) return;
    if (StillNamed(folder, fd, temporary)) unlinkat(folder, temporary.c_str(), 0);
    close(fd);
    fd = -1;
  }

  int folder;
  std::string name;
  std::string temporary;
  int fd;
  FileLock lock;  // on the temporary name, for the writer's life
  bool failed = false;
  std::string buffer;
};

// A new, empty temporary file in folder, ours alone: whatever stood at its
// name (a file left by a crash, or a link or file someone planted) is
// removed first, and a link is removed, never followed.
FileStatus CreateTemporary(int folder, const std::string& temporary, int* fd) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    unlinkat(folder, temporary.c_str(), 0);
    *fd = openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 0600);
    if (*fd >= 0) break;
    if (errno != EEXIST) return FromErrno(errno);
  }
  if (*fd < 0) return FileStatus::kBusy;
  struct stat info;
  if (fstat(*fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() ||
      info.st_nlink != 1 || fchmod(*fd, LogFileMode()) != 0) {
    unlinkat(folder, temporary.c_str(), 0);
    close(*fd);
    *fd = -1;
    return FileStatus::kFailed;
  }
  return FileStatus::kOk;
}

// Reads a regular file up to kMaxTextFileBytes.
FileStatus ReadRegular(int fd, std::string* text) {
  struct stat info;
  if (fstat(fd, &info) != 0) return FileStatus::kFailed;
  if (!S_ISREG(info.st_mode)) return FileStatus::kNotRegular;
  if (static_cast<uint64_t>(info.st_size) > kMaxTextFileBytes) return FileStatus::kTooLarge;
  text->reserve(static_cast<std::size_t>(info.st_size));
  switch (ReadUpTo(fd, kMaxTextFileBytes, text)) {
    case 0:
      return FileStatus::kOk;
    case EFBIG:
      return FileStatus::kTooLarge;  // it grew while being read
    default:
      return FileStatus::kFailed;
  }
}

class PosixFileSystem : public FileSystem {
 public:
  char Separator() const override { return '/'; }
  bool IsNameByte(unsigned char c) const override { return c != '/' && c != '\0'; }

  std::unique_ptr<FileSearch> Find(const std::string& pattern) override {
    auto folder = OpenFolder(FolderOf(pattern));
    if (!folder) return nullptr;
    return folder->Find(NameOf(pattern));
  }

  std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixFolder>(fd);
  }

  bool Exists(const std::string& path) override {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
  }

  FileStatus ReadText(const std::string& path, std::string* text) override {
    text->clear();
    const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return FromErrno(errno);
    const FileStatus status = ReadAt(folder, NameOf(path), text, nullptr);
    close(folder);
    return status;
  }

  FileStatus BeginReplace(const std::string& path,
                          std::unique_ptr<ReplacingWriter>* writer) override {
    writer->reset();
    const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return FromErrno(errno);
    // One temporary name per file: a process killed while writing leaves
    // one file behind, which the next write of that file takes over.
    const std::string name = NameOf(path);
    std::string temporary = name + ".tmp";
    FileLock lock;
    FileStatus status = lock.Acquire(folder, temporary);
    int fd = -1;
    if (status == FileStatus::kOk) status = CreateTemporary(folder, temporary, &fd);
    if (status != FileStatus::kOk) {
      close(folder);
      return status;
    }
    *writer =
        std::make_unique<PosixWriter>(folder, name, std::move(temporary), fd, std::move(lock));
    return FileStatus::kOk;
  }

  FileStatus Delete(const std::string& path) override {
    auto folder = OpenFolder(FolderOf(path));
    if (!folder) return FileStatus::kMissing;
    return folder->Delete(NameOf(path));
  }
};

}  // namespace

FileSystem& PlatformFileSystem() {
  static PosixFileSystem service;
  return service;
}

}  // namespace pelko
