// POSIX has no share modes: every open here takes an exclusive non-blocking
// flock, which excludes every other such open, in this process (flock locks
// belong to the open, not to the process) and in other agent processes.
// Programs that do not take the lock are not kept out, as Linux tools ignore
// Win32 share modes too.
#include "agent/platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pelko {

namespace {

// Opens that lose a race with a replace of the same name start again, a few
// times at most.
constexpr int kReopenAttempts = 4;
constexpr std::size_t kWriteBuffer = 1 << 16;

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
    default:
      return FileStatus::kFailed;
  }
}

uint64_t ToFileTime(const statx_timestamp& t) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
  return static_cast<uint64_t>((t.tv_sec + kSecondsFrom1601To1970) * 10000000LL +
                               t.tv_nsec / 100);
}

bool FillEntry(const std::string& path, const char* name, FileEntry* entry) {
  struct statx info;
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
            &info) != 0) {
    return false;
  }
  entry->name = name;
  uint32_t attributes = 0;
  mode_t mode = info.stx_mode;
  if (S_ISLNK(mode)) {
    attributes |= kAttributeReparsePoint;
    struct stat target;
    mode = stat(path.c_str(), &target) == 0 ? target.st_mode : 0;
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
  PosixSearch(DIR* dir, std::string folder, std::string pattern)
      : dir(dir), folder(std::move(folder)), pattern(std::move(pattern)) {}
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
      if (!FillEntry(folder + "/" + found->d_name, found->d_name, &next)) continue;
      pending = true;
      return true;
    }
    return false;
  }

  DIR* dir;
  std::string folder;
  std::string pattern;
  FileEntry next;
  bool pending = false;
};

bool SameFile(int fd, const std::string& path) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Opens path and takes its lock. kMissing also when the name went away
// meanwhile; an open that lost a race with a rename starts again.
FileStatus OpenLocked(const std::string& path, int flags, int* fd) {
  for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
    *fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (*fd < 0) return FromErrno(errno);
    if (flock(*fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(*fd);
      *fd = -1;
      return error == EWOULDBLOCK ? FileStatus::kBusy : FromErrno(error);
    }
    if (SameFile(*fd, path)) return FileStatus::kOk;
    close(*fd);
    *fd = -1;
  }
  return FileStatus::kBusy;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t wrote = write(fd, data, size);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
  return true;
}

void SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

class PosixWriter : public ReplacingWriter {
 public:
  PosixWriter(std::string path, std::string temporary, int fd)
      : path(std::move(path)), temporary(std::move(temporary)), fd(fd) {}
  ~PosixWriter() override { Discard(); }

  bool Append(std::string_view text) override {
    if (fd < 0 || failed) return false;
    if (buffer.size() + text.size() <= kWriteBuffer) {
      buffer.append(text);
      return true;
    }
    if (!Flush() || !WriteAll(fd, text.data(), text.size())) failed = true;
    return !failed;
  }

  FileStatus Commit() override {
    if (fd < 0) return FileStatus::kFailed;
    if (failed || !Flush() || fsync(fd) != 0) {
      Discard();
      return FileStatus::kFailed;
    }
    // Win32 refuses to replace a file that another open holds; so does this.
    int target = -1;
    const FileStatus held = OpenLocked(path, O_RDONLY | O_NONBLOCK, &target);
    if (held == FileStatus::kBusy) return held;
    if (rename(temporary.c_str(), path.c_str()) != 0) {
      const FileStatus status = FromErrno(errno);
      if (target >= 0) close(target);
      if (status == FileStatus::kBusy) return status;
      Discard();
      return status;
    }
    SyncFolderOf(path);
    if (target >= 0) close(target);
    close(fd);
    fd = -1;
    return FileStatus::kOk;
  }

 private:
  bool Flush() {
    if (!WriteAll(fd, buffer.data(), buffer.size())) return false;
    buffer.clear();
    return true;
  }

  // The lock is still ours, so the temporary name is still our file.
  void Discard() {
    if (fd < 0) return;
    unlink(temporary.c_str());
    close(fd);
    fd = -1;
  }

  std::string path;
  std::string temporary;
  int fd;
  bool failed = false;
  std::string buffer;
};

class PosixFileSystem : public FileSystem {
 public:
  char Separator() const override { return '/'; }
  bool IsNameByte(unsigned char c) const override { return c != '/' && c != '\0'; }

  std::unique_ptr<FileSearch> Find(const std::string& pattern) override {
    const std::size_t slash = pattern.rfind('/');
    std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash);
    if (slash == 0) folder = "/";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return nullptr;
    auto search = std::make_unique<PosixSearch>(
        dir, slash == 0 ? "" : folder,
        slash == std::string::npos ? pattern : pattern.substr(slash + 1));
    if (!search->Start()) return nullptr;
    return search;
  }

  bool Exists(const std::string& path) override {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
  }

  FileStatus ReadText(const std::string& path, std::string* text) override {
    text->clear();
    int fd = -1;
    const FileStatus opened = OpenLocked(path, O_RDONLY | O_NONBLOCK, &fd);
    if (opened != FileStatus::kOk) return opened;
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      text->reserve(static_cast<std::size_t>(info.st_size));
    }
    char chunk[1 << 16];
    FileStatus status = FileStatus::kOk;
    for (;;) {
      const ssize_t got = read(fd, chunk, sizeof chunk);
      if (got == 0) break;
      if (got < 0) {
        if (errno == EINTR) continue;
        status = FileStatus::kFailed;
        text->clear();
        break;
      }
      text->append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return status;
  }

  FileStatus BeginReplace(const std::string& path,
                          std::unique_ptr<ReplacingWriter>* writer) override {
    writer->reset();
    // One temporary name per file: a process killed while writing leaves
    // one file behind, which the next write of that file takes over.
    std::string temporary = path + ".tmp";
    int fd = -1;
    const FileStatus opened = OpenLocked(temporary, O_WRONLY | O_CREAT, &fd);
    if (opened != FileStatus::kOk) return opened;
    if (ftruncate(fd, 0) != 0) {
      close(fd);
      return FileStatus::kFailed;
    }
    *writer = std::make_unique<PosixWriter>(path, std::move(temporary), fd);
    return FileStatus::kOk;
  }

  FileStatus Delete(const std::string& path) override {
    int fd = -1;
    const FileStatus opened = OpenLocked(path, O_RDONLY | O_NONBLOCK, &fd);
    if (opened != FileStatus::kOk) return opened;
    const FileStatus status = unlink(path.c_str()) == 0 ? FileStatus::kOk : FromErrno(errno);
    close(fd);
    return status;
  }
};

}  // namespace

FileSystem& PlatformFileSystem() {
  static PosixFileSystem service;
  return service;
}

}  // namespace pelko
