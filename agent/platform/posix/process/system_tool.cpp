#include "agent/platform/posix/process/system_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "agent/platform/posix/files/safe_path.h"

namespace pelko {

namespace {

// Where the system keeps its programs, in the order PATH would have them.
constexpr const char* kSystemFolders[] = {"/usr/sbin", "/usr/bin", "/sbin", "/bin"};

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  // Output to outFd, nothing else of ours, default signals.
  void Prepare(int outFd) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

}  // namespace

bool ChildEndsBy(pid_t child, std::chrono::steady_clock::time_point deadline) {
#ifdef SYS_pidfd_open
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  if (pidfd < 0) return true;
  int polled;
  do {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ended{pidfd, POLLIN, 0};
    polled = poll(&ended, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
  } while (polled < 0 && errno == EINTR);
  close(pidfd);
  return polled > 0;
#else
  (void)child;
  (void)deadline;
  return true;
#endif
}

std::string FindSystemProgram(const std::string& name, std::string* why) {
  if (name.empty() || name.find('/') != std::string::npos) {
    *why = "'" + name + "' is not a program name";
    return "";
  }
  for (const char* folder : kSystemFolders) {
    const std::string candidate = std::string(folder) + "/" + name;
    struct stat st;
    if (lstat(candidate.c_str(), &st) != 0) continue;
    std::string resolved;
    if (CheckPathSafety(candidate, &resolved, why) != PathSafety::kSafe) return "";
    if (stat(resolved.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0) {
      *why = resolved + " is not an executable file";
      return "";
    }
    return resolved;
  }
  *why = "no " + name + " in the system folders";
  return "";
}

ToolRun RunSystemTool(const std::string& name, const std::vector<std::string>& args,
                      std::size_t maxBytes, int timeoutMs) {
  ToolRun run;
  const std::string program = FindSystemProgram(name, &run.error);
  if (program.empty()) return run;
  std::vector<std::string> argText = {program};
  argText.insert(argText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::string path = kSystemPath;
  char* envp[] = {path.data(), nullptr};

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    run.error = std::string("no pipe: ") + std::strerror(errno);
    return run;
  }
  SpawnSetup setup;
  setup.Prepare(out[1]);
  pid_t child = -1;
  const int spawned =
      posix_spawn(&child, program.c_str(), &setup.actions, &setup.attributes, argv.data(), envp);
  close(out[1]);
  if (spawned != 0) {
    close(out[0]);
    run.error = program + ": " + std::strerror(spawned);
    return run;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool cut = false;
  char chunk[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      run.error = program + " did not end within " + std::to_string(timeoutMs) + " ms";
      cut = true;
      break;
    }
    pollfd ready{out[0], POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0) continue;
    const ssize_t got = polled < 0 ? -1 : read(out[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const std::size_t room = maxBytes - run.output.size();
    run.output.append(chunk, std::min(room, static_cast<std::size_t>(got)));
    if (static_cast<std::size_t>(got) > room) {
      run.error = program + " wrote more than " + std::to_string(maxBytes) + " bytes";
      cut = true;
      break;
    }
  }
  close(out[0]);
  if (!cut && !ChildEndsBy(child, deadline)) {
    run.error = program + " did not end within " + std::to_string(timeoutMs) + " ms";
    cut = true;
  }
  if (cut) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (cut) return run;
  if (!WIFEXITED(status)) {
    run.error = program + " ended by signal " + std::to_string(WTERMSIG(status));
    return run;
  }
  run.ran = true;
  run.status = WEXITSTATUS(status);
  return run;
}

}  // namespace pelko
