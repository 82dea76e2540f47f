#include "agent/platform/launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "agent/platform/posix/files/safe_path.h"
#include "agent/platform/posix/process/child_signals.h"
#include "agent/platform/posix/process/system_tool.h"

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace pelko {

namespace {

// The program's whole environment: system folders to find its tools, and
// the registry store the agent uses, so that it reads the same ToSendFile.
std::vector<std::string> CleanEnvironment() {
  std::vector<std::string> env = {kSystemPath};
  const char* store = std::getenv("PELKO_REGISTRY");
  if (store != nullptr && *store != '\0') env.push_back(std::string("PELKO_REGISTRY=") + store);
  return env;
}

// fd moved above the standard three (still close-on-exec), so that putting
// /dev/null on them cannot overwrite it.
int AboveStdio(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

int DescriptorCeiling() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max > (1 << 20)) return 1 << 20;
  return static_cast<int>(limit.rlim_max);
}

// Between fork and exec: async-signal-safe calls only.
void CloseOnExecFrom3(int ceiling) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
  for (int fd = 3; fd < ceiling; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// Root runs this program: it and every folder above it must be out of
// everyone else's reach, and it must be one.
// The launch's answer to a path found unsafe or not to be checked;
// kStarted where it is safe.
LaunchResult SafetyResult(PathSafety safety, const std::string& why) {
  switch (safety) {
    case PathSafety::kError:
      return {LaunchStatus::kFailed, why};
    case PathSafety::kUnsafe:
      return {LaunchStatus::kRefused, why};
    case PathSafety::kSafe:
      break;
  }
  return {LaunchStatus::kStarted, ""};
}

LaunchResult VetProgram(const std::string& program, std::string* resolved) {
  std::string why;
  const PathSafety checked = CheckPathSafety(program, resolved, &why);
  const LaunchResult safety = SafetyResult(checked, why);
  if (safety.status != LaunchStatus::kStarted) return safety;
  struct stat st;
  if (stat(resolved->c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0) {
    return {LaunchStatus::kFailed, *resolved + " is not an executable file"};
  }
  return {LaunchStatus::kStarted, ""};
}

// Followed through a pidfd: it works for a process that is not our child,
// and no number can be reused while we hold it.
class PidfdProgram : public StartedProgram {
 public:
  explicit PidfdProgram(int pidfd) : pidfd(pidfd) {}
  ~PidfdProgram() override { close(pidfd); }
  bool Running() override {
    pollfd ended{pidfd, POLLIN, 0};
    return poll(&ended, 1, 0) == 0;
  }

 private:
  const int pidfd;
};

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return pid > 0 ? static_cast<int>(syscall(SYS_pidfd_open, pid, 0)) : -1;
#else
  return -1;
#endif
}

// The pipe's other end closed: -1 when nothing came, else what did.
template <typename T>
ssize_t ReadWhole(int fd, T* value) {
  ssize_t got;
  while ((got = read(fd, value, sizeof *value)) < 0 && errno == EINTR) {
  }
  return got;
}

class ForkLauncher : public Launcher {
 public:
  LaunchResult Check(const std::string& program) override {
    std::string path;
    return VetProgram(program, &path);
  }

  // The entry itself strictly; above it a sticky folder (/tmp) will do.
  LaunchResult Vet(const std::string& path) override {
    std::string resolved, why;
    const PathSafety checked = CheckPathSafety(path, &resolved, &why, 1);
    return SafetyResult(checked, why);
  }

  // The folders above strictly, the folder itself written by no other.
  LaunchResult VetDataFolder(const std::string& path) override {
    const std::string folder = path.substr(0, path.find_last_not_of('/') + 1);
    const std::size_t slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      const LaunchResult above = Vet(folder.substr(0, slash));
      if (!above.Started()) return above;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      return {LaunchStatus::kFailed, path + ": " + std::strerror(errno)};
    }
    if (!S_ISDIR(st.st_mode)) return {LaunchStatus::kRefused, path + " is no folder"};
    if (st.st_uid != 0 && st.st_uid != geteuid()) {
      return {LaunchStatus::kRefused, path + " belongs to uid " + std::to_string(st.st_uid)};
    }
    if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX)) {
      return {LaunchStatus::kRefused, path + " is writable by everyone"};
    }
    return {LaunchStatus::kStarted, ""};
  }

  // The program runs as a grandchild that init adopts, so the agent neither
  // waits for it nor leaves a zombie behind. It gets the clean environment,
  // /dev/null for its standard streams and no other descriptor of ours
  // (open, perhaps locked, log files). It waits to exec until the agent
  // holds a pidfd of it, so that the agent can tell when it has ended.
  LaunchResult Launch(const std::string& program) override {
    std::string path;
    const LaunchResult vetted = VetProgram(program, &path);
    if (!vetted.Started()) return vetted;
    // Everything the child needs is made before fork: after it only
    // async-signal-safe calls may run.
    char* const argv[] = {path.data(), nullptr};
    std::vector<std::string> envText = CleanEnvironment();
    std::vector<char*> envp;
    for (std::string& item : envText) envp.push_back(item.data());
    envp.push_back(nullptr);
    const int ceiling = DescriptorCeiling();
    const int null = AboveStdio(open("/dev/null", O_RDWR | O_CLOEXEC));
    int report[2] = {-1, -1}, go[2] = {-1, -1};
    if (null < 0 || pipe2(report, O_CLOEXEC) != 0 || pipe2(go, O_CLOEXEC) != 0) {
      const int error = errno;
      for (const int fd : {null, report[0], report[1], go[0], go[1]}) {
        if (fd >= 0) close(fd);
      }
      return {LaunchStatus::kFailed, std::string("no pipe: ") + std::strerror(error)};
    }
    for (int* fd : {&report[0], &report[1], &go[0], &go[1]}) *fd = AboveStdio(*fd);
    const pid_t child = fork();
    const int forkError = errno;
    if (child == 0) {
      DefaultSignals();
      close(go[1]);
      const pid_t grandchild = fork();
      if (grandchild != 0) {
        (void)!write(report[1], &grandchild, sizeof grandchild);
        _exit(grandchild < 0 ? 1 : 0);
      }
      char ignored;
      while (read(go[0], &ignored, 1) < 0 && errno == EINTR) {
      }
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      CloseOnExecFrom3(ceiling);
      execve(path.c_str(), argv, envp.data());
      const int error = errno;
      (void)!write(report[1], &error, sizeof error);
      _exit(127);
    }
    close(null);
    close(report[1]);
    close(go[0]);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    pid_t grandchild = -1;
    if (child > 0 && ReadWhole(report[0], &grandchild) != sizeof grandchild) grandchild = -1;
    const int pidfd = OpenPidfd(grandchild);
    close(go[1]);
    // The pipe closes on a successful exec; an errno means exec failed.
    int execError = 0;
    const ssize_t got = ReadWhole(report[0], &execError);
    close(report[0]);
    std::shared_ptr<StartedProgram> followed;
    if (pidfd >= 0) followed = std::make_shared<PidfdProgram>(pidfd);
    if (child < 0) return {LaunchStatus::kFailed, std::string("fork: ") + std::strerror(forkError)};
    if (got > 0) return {LaunchStatus::kFailed, path + ": " + std::strerror(execError)};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      return {LaunchStatus::kFailed, "the second fork failed"};
    }
    return {LaunchStatus::kStarted, "", std::move(followed)};
  }
};

}  // namespace

Launcher& PlatformLauncher() {
  static ForkLauncher launcher;
  return launcher;
}

}  // namespace pelko
