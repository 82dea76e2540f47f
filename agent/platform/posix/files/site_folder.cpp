// The site's folder is held open; every name is taken in it, never
// followed when it is a link (O_NOFOLLOW, AT_SYMLINK_NOFOLLOW).
#include "agent/platform/site_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "agent/platform/posix/files/fd_io.h"

namespace pelko {

namespace {

constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

FileStatus FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return FileStatus::kMissing;
    case ELOOP:
    case EISDIR:
      return FileStatus::kNotRegular;
    case EACCES:
    case EPERM:
    case EBUSY:
      return FileStatus::kBusy;
    default:
      return FileStatus::kFailed;
  }
}

class PosixSiteFolder : public SiteFolder {
 public:
  explicit PosixSiteFolder(int fd) : fd(fd) {}
  ~PosixSiteFolder() override { close(fd); }

  std::vector<SiteEntry> List() override {
    std::vector<SiteEntry> entries;
    DIR* dir = ListFolder(fd);
    if (dir == nullptr) return entries;
    while (dirent* found = readdir(dir)) {
      const std::string name = found->d_name;
      struct stat info;
      if (name == "." || name == ".." ||
          fstatat(fd, found->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        continue;
      }
      entries.push_back({name, static_cast<uint64_t>(info.st_size), S_ISREG(info.st_mode)});
    }
    closedir(dir);
    return entries;
  }

  FileStatus Read(const std::string& name, uint64_t limit, std::string* bytes) override {
    bytes->clear();
    if (!IsPlainName(name)) return FileStatus::kMissing;
    const int file =
        openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) return FromErrno(errno);
    struct stat info;
    FileStatus status = FileStatus::kFailed;
    if (fstat(file, &info) == 0) {
      if (!S_ISREG(info.st_mode)) {
        status = FileStatus::kNotRegular;
      } else {
        const int read = ReadUpTo(file, limit, bytes);
        status = read == 0       ? FileStatus::kOk
                 : read == EFBIG ? FileStatus::kTooLarge
                                 : FileStatus::kFailed;
      }
    }
    close(file);
    if (status != FileStatus::kOk) bytes->clear();
    return status;
  }

  FileStatus Replace(const std::string& name, std::string_view bytes) override {
    if (!IsPlainName(name)) return FileStatus::kFailed;
    struct stat info;
    if (fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(info.st_mode)) {
      return FileStatus::kNotRegular;
    }
    // Whatever stands at the temporary name (left by a run that was killed,
    // or put there) goes first; the file is then made new, never opened
    // through a link.
    const std::string temporary = SiteTemporaryName(name);
    unlinkat(fd, temporary.c_str(), 0);
    const int file = openat(fd, temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (file < 0) return FromErrno(errno);
    const bool written =
        fchmod(file, kFileMode) == 0 && WriteAll(file, bytes) == 0 && fsync(file) == 0;
    const int error = errno;
    close(file);
    if (!written || renameat(fd, temporary.c_str(), fd, name.c_str()) != 0) {
      const FileStatus status = FromErrno(written ? errno : error);
      unlinkat(fd, temporary.c_str(), 0);
      return status;
    }
    return FileStatus::kOk;
  }

  FileStatus Remove(const std::string& name) override {
    if (!IsPlainName(name)) return FileStatus::kFailed;
    return unlinkat(fd, name.c_str(), 0) == 0 ? FileStatus::kOk : FromErrno(errno);
  }

 private:
  int fd;
};

}  // namespace

std::unique_ptr<SiteFolder> OpenSiteFolder(const std::string& path, std::string* error) {
  const bool made = mkdir(path.c_str(), kFolderMode) == 0;
  if (!made && errno != EEXIST) {
    *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (made) fchmod(fd, kFolderMode);
  return std::make_unique<PosixSiteFolder>(fd);
}

}  // namespace pelko
