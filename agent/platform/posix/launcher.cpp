#include "agent/platform/launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace pelko {

namespace {

class ForkLauncher : public Launcher {
 public:
  // The program runs as a grandchild that init adopts, so the agent neither
  // waits for it nor leaves a zombie behind. Only async-signal-safe calls
  // run between fork and exec.
  bool Launch(const std::string& program) override {
    if (access(program.c_str(), X_OK) != 0) return false;
    const char* path = program.c_str();
    char* const argv[] = {const_cast<char*>(path), nullptr};
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    const pid_t child = fork();
    if (child < 0) {
      close(report[0]);
      close(report[1]);
      return false;
    }
    if (child == 0) {
      // The agent blocks its quit signals in every thread; the program must
      // not inherit that, nor the agent's open (and locked) log files.
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      const pid_t grandchild = fork();
      if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
      for (int fd = 3; fd < 1024; ++fd) {
        if (fd != report[1]) close(fd);
      }
      execv(path, argv);
      const char failed = 1;
      (void)!write(report[1], &failed, 1);
      _exit(127);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes on a successful exec; a byte means exec failed.
    char failed = 0;
    ssize_t got;
    while ((got = read(report[0], &failed, 1)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
  }
};

}  // namespace

Launcher& PlatformLauncher() {
  static ForkLauncher launcher;
  return launcher;
}

}  // namespace pelko
