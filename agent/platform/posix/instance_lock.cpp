// The agent's lock on Linux: agent.lock in the settings store's folder,
// flocked for the agent's life. Two agents on one store would account the
// same queues; agents of other stores (a test's, say) are no concern of it.
#include "agent/platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/platform/posix/registry_store/registry_store.h"
#include "agent/platform/posix/files/safe_path.h"
#include "agent/platform/posix/registry_store/store_file.h"

namespace pelko {
namespace {

class FileInstanceLock : public InstanceLock {
 public:
  bool Take(std::string* holder, std::string* error) override {
    holder->clear();
    const std::string folder = PlatformStoreFolder();
    std::string untrusted;
    if (store_file::MakeDirs(folder) != kErrorSuccess ||
        store_file::CheckTrusted(folder, &untrusted, 1) != kErrorSuccess) {
      *error = untrusted.empty() ? "cannot make " + folder : untrusted;
      return false;
    }
    const std::string path = folder + "/agent.lock";
    // Never closed: the flock lasts as long as the process.
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      *error = path +
               (errno == ELOOP ? " is a symbolic link" : ": " + std::string(std::strerror(errno)));
      return false;
    }
    struct stat st;
    std::string why = "is not a file";
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !OwnedSafely(st, false, &why)) {
      *error = path + " " + why;
      return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) {
        *error = path + ": " + std::strerror(errno);
        return false;
      }
      char text[24] = {};
      const ssize_t got = pread(fd, text, sizeof text - 1, 0);
      const long pid = got > 0 ? std::strtol(text, nullptr, 10) : 0;
      *holder = pid > 0 ? "process " + std::to_string(pid) : "another process";
      return false;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
      // The lock holds all the same; only the holder's name is missing.
    }
    return true;
  }

 private:
  int fd = -1;
};

}  // namespace

InstanceLock& PlatformInstanceLock() {
  static FileInstanceLock lock;
  return lock;
}

}  // namespace pelko
