#include "agent/platform/launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "agent/platform/posix/safe_path.h"

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace pelko {

namespace {

// The program's whole environment: system folders to find its tools, and
// the registry store the agent uses, so that it reads the same ToSendFile.
std::vector<std::string> CleanEnvironment() {
  std::vector<std::string> env = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
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

void DefaultSignals() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &standard, nullptr);
}

// Root runs this program: it and every folder above it must be out of
// everyone else's reach, and it must be one.
LaunchResult Vet(const std::string& program, std::string* resolved) {
  std::string why;
  switch (CheckPathSafety(program, resolved, &why)) {
    case PathSafety::kError: return {LaunchStatus::kFailed, why};
    case PathSafety::kUnsafe: return {LaunchStatus::kRefused, why};
    case PathSafety::kSafe: break;
  }
  struct stat st;
  if (stat(resolved->c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0) {
    return {LaunchStatus::kFailed, *resolved + " is not an executable file"};
  }
  return {LaunchStatus::kStarted, ""};
}

class ForkLauncher : public Launcher {
 public:
  LaunchResult Check(const std::string& program) override {
    std::string path;
    return Vet(program, &path);
  }

  // The program runs as a grandchild that init adopts, so the agent neither
  // waits for it nor leaves a zombie behind. It gets the clean environment,
  // /dev/null for its standard streams and no other descriptor of ours
  // (open, perhaps locked, log files).
  LaunchResult Launch(const std::string& program) override {
    std::string path;
    const LaunchResult vetted = Vet(program, &path);
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
    int report[2] = {-1, -1};
    if (null < 0 || pipe2(report, O_CLOEXEC) != 0) {
      if (null >= 0) close(null);
      return {LaunchStatus::kFailed, std::string("no pipe: ") + std::strerror(errno)};
    }
    report[0] = AboveStdio(report[0]);
    report[1] = AboveStdio(report[1]);
    const pid_t child = fork();
    const int forkError = errno;
    if (child == 0) {
      DefaultSignals();
      const pid_t grandchild = fork();
      if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
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
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes on a successful exec; an errno means exec failed.
    int execError = 0;
    ssize_t got;
    while ((got = read(report[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (child < 0) return {LaunchStatus::kFailed, std::string("fork: ") + std::strerror(forkError)};
    if (got > 0) return {LaunchStatus::kFailed, path + ": " + std::strerror(execError)};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      return {LaunchStatus::kFailed, "the second fork failed"};
    }
    return {LaunchStatus::kStarted, ""};
  }
};

}  // namespace

Launcher& PlatformLauncher() {
  static ForkLauncher launcher;
  return launcher;
}

}  // namespace pelko
