// Taking and holding the registry store's lock without waiting for ever on a
// stuck writer.
#include "agent/platform/posix/registry_store/store_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "agent/platform/posix/files/safe_path.h"
#include "agent/platform/posix/registry_store/store_file.h"
#include "agent/platform/posix/registry_store/store_types.h"

namespace pelko {

namespace {

using store_file::CheckTrusted;
using store_file::MakeDirs;
using store_file::StatusFromErrno;

constexpr char kLockFile[] = "registry.lock";
// Whatever the umask: only the owner may open the lock, since whoever can
// open it can hold it and so stop every change.
constexpr mode_t kLockMode = 0600;
// A writer holds the lock for one file rewrite; a wait longer than this
// means a stuck process, and the caller gets an error instead of a hang.
constexpr auto kLockWait = std::chrono::seconds(5);

// What the waiting caller and the helper thread that blocks in flock share.
struct LockWait {
  std::mutex mutex;
  std::condition_variable done;
  bool locked = false;
  bool abandoned = false;
  int error = 0;
  int fd = -1;
};

// The helper thread's part: blocks until it has the lock, then tells the
// caller, or releases it at once when the caller gave up.
void BlockUntilLocked(const std::shared_ptr<LockWait>& wait) {
  int result;
  do {
    result = flock(wait->fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  const int error = result == 0 ? 0 : errno;
  std::lock_guard<std::mutex> guard(wait->mutex);
  if (wait->abandoned) {
    close(wait->fd);
    return;
  }
  wait->error = error;
  wait->locked = true;
  wait->done.notify_one();
}

// Takes the flock on fd, waiting at most kLockWait. The wait is a blocking
// flock, because the kernel hands a released lock to a waiter that is
// already queued, where a poller asleep keeps losing it to a writer that
// writes in a loop. It runs on a helper thread so that the caller's wait
// stays bounded; a helper left behind releases the lock as soon as it gets
// it. Without contention no thread is started.
int32_t LockWithin(int* fd) {
  if (flock(*fd, LOCK_EX | LOCK_NB) == 0) return kErrorSuccess;
  if (errno != EWOULDBLOCK && errno != EINTR) return StatusFromErrno(errno);
  auto wait = std::make_shared<LockWait>();
  wait->fd = *fd;
  try {
    std::thread([wait] { BlockUntilLocked(wait); }).detach();
  } catch (const std::system_error&) {
    return kErrorRegistryIoFailed;
  }
  std::unique_lock<std::mutex> guard(wait->mutex);
  if (!wait->done.wait_for(guard, kLockWait, [&wait] { return wait->locked; })) {
    wait->abandoned = true;
    *fd = -1;  // the helper closes it
    return kErrorTimeout;
  }
  return wait->error ? StatusFromErrno(wait->error) : kErrorSuccess;
}

// Opens path into *fd without following a link, and checks that it is a
// file only its owner can open. On refusal *untrusted says why.
int32_t OpenLockFile(const std::string& path, int* fd, std::string* untrusted) {
  *fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockMode);
  if (*fd < 0 && errno != ELOOP) *fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (*fd < 0 && errno == ELOOP) {
    *untrusted = path + " is a symbolic link";
    return kErrorAccessDenied;
  }
  if (*fd < 0) return StatusFromErrno(errno);
  struct stat st;
  if (fstat(*fd, &st) != 0) return StatusFromErrno(errno);
  std::string problem = "is not a file";
  if (!S_ISREG(st.st_mode) || !OwnedSafely(st, false, &problem)) {
    *untrusted = path + " " + problem;
    return kErrorAccessDenied;
  }
  // One left readable by an older version is made the owner's alone.
  if ((st.st_mode & 077) != 0 && st.st_uid == geteuid()) fchmod(*fd, kLockMode);
  return kErrorSuccess;
}

}  // namespace

StoreLock::~StoreLock() {
  if (fd >= 0) close(fd);  // releases the flock
}

int32_t StoreLock::Acquire(const std::string& folder, std::string* untrusted) {
  int32_t status = MakeDirs(folder);
  // The store's folder may lie in a sticky one such as /tmp.
  if (status == kErrorSuccess) status = CheckTrusted(folder, untrusted, 1);
  if (status == kErrorSuccess) status = OpenLockFile(folder + "/" + kLockFile, &fd, untrusted);
  if (status != kErrorSuccess) return status;
  return LockWithin(&fd);
}

}  // namespace pelko
