#include "agent/platform/posix/files/file_locks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <string>

#include "agent/platform/posix/files/safe_path.h"
#include "agent/util/coding.h"

namespace pelko {

namespace {

// A lock file is removed by the holder as it lets go; one that someone
// opened just before is found out and opened again, a few times at most.
constexpr int kLockAttempts = 8;

std::string LockFolderPath() {
  const uid_t user = geteuid();
  if (user == 0) return "/run/pelko-locks";
  return "/tmp/pelko-locks-" + std::to_string(user);
}

// A folder that anyone else could write would let them plant or hold the
// lock files.
bool IsSafeFolder(int fd) {
  struct stat info;
  std::string why;
  return fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && OwnedSafely(info, false, &why);
}

// The lock folder, opened once for the life of the process; -1 while it
// cannot be made safe, and then it is tried again at the next lock.
int LockFolder() {
  static std::mutex mutex;
  static int folder = -1;
  std::lock_guard<std::mutex> hold(mutex);
  if (folder >= 0) return folder;
  const std::string path = LockFolderPath();
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  // Its mode is set here, whatever the umask was when it was made.
  if (!IsSafeFolder(fd) || fchmod(fd, 0700) != 0) {
    close(fd);
    return -1;
  }
  folder = fd;
  return folder;
}

std::string LockName(const struct stat& folder, const std::string& name) {
  char text[64];
  std::snprintf(text, sizeof text, "%" PRIx64 "-%" PRIx64 "-%016" PRIx64,
                static_cast<uint64_t>(folder.st_dev), static_cast<uint64_t>(folder.st_ino),
                Fnv1a64(name));
  return text;
}

}  // namespace

bool StillNamed(int folderFd, int fd, const std::string& name) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 &&
         fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd = other.fd;
    name = std::move(other.name);
    other.fd = -1;
  }
  return *this;
}

FileStatus FileLock::Acquire(const std::string& path) {
  const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0)
    return errno == ENOENT || errno == ENOTDIR ? FileStatus::kMissing : FileStatus::kFailed;
  const FileStatus status = Acquire(folder, NameOf(path));
  close(folder);
  return status;
}

FileStatus FileLock::Acquire(int folderFd, const std::string& fileName) {
  Release();
  struct stat folder;
  if (fstat(folderFd, &folder) != 0) return FileStatus::kFailed;
  const int locks = LockFolder();
  if (locks < 0) return FileStatus::kFailed;
  const std::string lockName = LockName(folder, fileName);
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    const int lock =
        openat(locks, lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0) return FileStatus::kFailed;
    if (fchmod(lock, 0600) != 0 || flock(lock, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(lock);
      return error == EWOULDBLOCK ? FileStatus::kBusy : FileStatus::kFailed;
    }
    if (StillNamed(locks, lock, lockName)) {
      fd = lock;
      name = lockName;
      return FileStatus::kOk;
    }
    close(lock);
  }
  return FileStatus::kBusy;
}

void FileLock::Release() {
  if (fd < 0) return;
  // Removed while still held, so that no one can take a name that is on
  // its way out.
  unlinkat(LockFolder(), name.c_str(), 0);
  close(fd);
  fd = -1;
}

}  // namespace pelko
