// The registry store's file I/O: reads that refuse what others could have
// written, and rewrites that a reader never sees half done.
#include "agent/platform/posix/registry_store/store_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "agent/platform/files.h"
#include "agent/platform/posix/files/fd_io.h"
#include "agent/platform/posix/files/safe_path.h"

namespace pelko::store_file {

namespace {

// Only the lock holder writes it, so one name per key is enough.
constexpr char kTempFile[] = "Values.reg.new";
// Whatever the umask of whoever makes them: only the owner may write the
// store, and only the owner may read the values (the mail password is one).
constexpr mode_t kDirMode = 0755;
constexpr mode_t kFileMode = 0600;

}  // namespace

int32_t StatusFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case ENAMETOOLONG:
      return kErrorInvalidParameter;
    default:
      return kErrorRegistryIoFailed;
  }
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDir(const std::string& path) {
  if (mkdir(path.c_str(), kDirMode) != 0) return false;
  chmod(path.c_str(), kDirMode);  // a umask of 077 would hide it from readers
  return true;
}

int32_t MakeDirs(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos < path.size() && path[pos] != '/') continue;
    if (!MakeDir(path.substr(0, pos)) && errno != EEXIST) return StatusFromErrno(errno);
  }
  return IsDirectory(path) ? kErrorSuccess : kErrorRegistryIoFailed;
}

int32_t CheckTrusted(const std::string& path, std::string* untrusted, int strictLevels) {
  std::string resolved;
  std::string why;
  switch (CheckPathSafety(path, &resolved, &why, strictLevels)) {
    case PathSafety::kSafe:
      return kErrorSuccess;
    case PathSafety::kError:
      return StatusFromErrno(errno);
    case PathSafety::kUnsafe:
      break;
  }
  *untrusted = why;
  return kErrorAccessDenied;
}

int ReadWholeFile(const std::string& path, std::string* text, mode_t* mode,
                  std::string* untrusted) {
  std::string resolved;
  std::string why;
  switch (CheckPathSafety(path, &resolved, &why)) {
    case PathSafety::kSafe:
      break;
    case PathSafety::kError:
      return errno;
    case PathSafety::kUnsafe:
      *untrusted = why;
      return kUntrusted;
  }
  const int fd = open(resolved.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) > kMaxTextFileBytes) {
    close(fd);
    return EINVAL;
  }
  std::string problem;
  if (!OwnedSafely(st, false, &problem)) {  // changed since the path was looked at
    close(fd);
    *untrusted = resolved + " " + problem;
    return kUntrusted;
  }
  if (mode) *mode = st.st_mode;
  text->clear();
  text->reserve(static_cast<size_t>(st.st_size));
  const int error = ReadUpTo(fd, kMaxTextFileBytes, text);
  close(fd);
  return error == EFBIG ? EINVAL : error;  // grew past the cap while read
}

// The new content is on disk before the rename makes it visible, so a
// reader, or the file after a crash, has either the old or the new content.
int32_t ReplaceFile(const std::string& dir, const std::string& text, const mode_t* keepMode) {
  const std::string temp = dir + "/" + kTempFile;
  unlink(temp.c_str());  // left by a writer that died
  const int fd =
      open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0) return StatusFromErrno(errno);
  // Never more than the owner's: a file an older version left readable to
  // all is made private at its next rewrite.
  fchmod(fd, keepMode ? *keepMode & 0700 : kFileMode);
  int error = WriteAll(fd, text);
  if (error == 0 && fdatasync(fd) != 0) error = errno;
  if (close(fd) != 0 || error != 0) {
    unlink(temp.c_str());
    return error ? StatusFromErrno(error) : kErrorRegistryIoFailed;
  }
  if (rename(temp.c_str(), (dir + "/" + kValuesFile).c_str()) != 0) {
    const int32_t status = StatusFromErrno(errno);
    unlink(temp.c_str());
    return status;
  }
  return kErrorSuccess;
}

}  // namespace pelko::store_file
