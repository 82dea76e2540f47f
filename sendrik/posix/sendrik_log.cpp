// Root appends here, in a folder that others may write: every step goes
// through the folder's descriptor, never through a link, never waits on a
// pipe, and takes only a regular file of this user's that has no other name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sendrik/sendrik_log.h"

namespace pelko::mail {

namespace {

constexpr int kAppend = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr mode_t kNewLogMode = 0640;

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  void Reset(int other = -1) {
    if (fd >= 0) close(fd);
    fd = other;
  }
  int get() const { return fd; }

 private:
  int fd;
};

std::string Failed(const std::string& what) { return what + ": " + std::strerror(errno); }

// The log in folder, made new (mode kNewLogMode whatever the umask) when
// there is none. -1 with why otherwise.
int OpenLog(int folder, const std::string& path, std::string* why) {
  int fd = openat(folder, kLogName, kAppend);
  if (fd < 0 && errno == ENOENT) {
    fd = openat(folder, kLogName, kAppend | O_CREAT | O_EXCL, kNewLogMode);
    if (fd >= 0) fchmod(fd, kNewLogMode);
  }
  if (fd < 0) {
    *why = errno == ELOOP ? path + " is a link" : Failed(path);
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *why = Failed(path);
  } else if (!S_ISREG(info.st_mode)) {
    *why = path + " is not a regular file";
  } else if (info.st_uid != geteuid()) {
    *why = path + " belongs to user " + std::to_string(info.st_uid);
  } else if (info.st_nlink != 1) {
    *why = path + " has other names (hard links)";
  } else {
    return fd;
  }
  close(fd);
  return -1;
}

bool IsFull(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 && static_cast<uint64_t>(info.st_size) >= kLogLimit;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t wrote = write(fd, text.data(), text.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return true;
}

}  // namespace

bool AppendToSendrikLog(const std::string& folder, std::string_view text, std::string* why) {
  Descriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) {
    *why = Failed(folder);
    return false;
  }
  const std::string path = folder + "/" + kLogName;
  Descriptor log(OpenLog(dir.get(), path, why));
  if (log.get() < 0) return false;
  if (IsFull(log.get())) {
    // Renames act on names, never through a link: whatever now stands at
    // either name stays in this folder.
    unlinkat(dir.get(), kOldLogName, 0);
    if (renameat(dir.get(), kLogName, dir.get(), kOldLogName) != 0) {
      // Something that cannot be replaced (a folder) at the old name must
      // not let the log grow without end.
      *why = Failed(path + " cannot be moved to " + kOldLogName);
      return false;
    }
    log.Reset(OpenLog(dir.get(), path, why));
    if (log.get() < 0) return false;
  }
  if (!WriteAll(log.get(), text)) {
    *why = Failed(path);
    return false;
  }
  return true;
}

}  // namespace pelko::mail
