#include "stoptool/posix/system_process_control.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <sstream>

namespace pelko::stoptool {
namespace {

bool ParseId(const char* text, uint32_t* id) {
  const char* end = text;
  while (*end >= '0' && *end <= '9') ++end;
  if (end == text || *end != '\0') return false;
  return std::from_chars(text, end, *id).ec == std::errc();
}

// The status file is about 1.5 KiB; its Uid line comes early.
bool ReadHead(const std::string& path, std::string* text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[4096];
  ssize_t got = read(fd, buffer, sizeof buffer);
  close(fd);
  if (got < 0) return false;
  text->assign(buffer, static_cast<size_t>(got));
  return true;
}

// The owner of /proc/PID itself will not do: a process that makes itself
// non-dumpable shows its folder as root's.
bool OwnedByRootOrCaller(const std::string& dir, uint32_t caller) {
  std::string status;
  if (!ReadHead(dir + "/status", &status)) return false;
  size_t line = status.find("\nUid:");
  if (line == std::string::npos) return false;
  std::istringstream ids(status.substr(line + 5, status.find('\n', line + 1) - line - 5));
  int counted = 0;
  for (uint64_t id; counted < 3 && ids >> id; ++counted) {
    if (id != 0 && id != caller) return false;
  }
  return counted == 3;
}

bool ReadLink(const std::string& path, std::string* target) {
  char buffer[4096];
  ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return false;
  target->assign(buffer, static_cast<size_t>(length));
  return true;
}

std::string ErrorText(int error) { return std::strerror(error); }

// Called directly: some C libraries declare the wrappers for C only.
int OpenPidfd(uint32_t id) {
  return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(id), 0));
}

int SendSignal(int pidfd, int signal) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

}  // namespace

ProcessMatch MatchProcess(const std::string& dir, const FileIdentity& program,
                          const std::string& path, uint32_t caller) {
  if (!OwnedByRootOrCaller(dir, caller)) return ProcessMatch::kOther;
  struct stat exe;
  if (stat((dir + "/exe").c_str(), &exe) == 0 && exe.st_dev == program.device &&
      exe.st_ino == program.inode) {
    return ProcessMatch::kProgram;
  }
  std::string target;
  if (ReadLink(dir + "/exe", &target) && target == path + " (deleted)") {
    return ProcessMatch::kReplacedProgram;
  }
  return ProcessMatch::kOther;
}

PosixProcessControl::PosixProcessControl(uint32_t caller) : caller(caller) {}

PosixProcessControl::~PosixProcessControl() {
  for (const auto& [id, fd] : held) close(fd);
}

bool PosixProcessControl::OwnFolder(std::string* folder, std::string* error) {
  std::string self;
  if (!ReadLink("/proc/self/exe", &self) || self.empty() || self[0] != '/') {
    *error = "cannot read /proc/self/exe";
    return false;
  }
  *folder = self.substr(0, self.find_last_of('/'));
  if (folder->empty()) *folder = "/";
  return true;
}

ProcessControl::Found PosixProcessControl::FindRunning(const std::string& path,
                                                       RunningProgram* running,
                                                       std::string* error) {
  struct stat file;
  if (stat(path.c_str(), &file) != 0) {
    const int reason = errno;
    *error = path + ": " + ErrorText(reason);
    return reason == ENOENT ? Found::kNoProgramFile : Found::kFailed;
  }
  const FileIdentity program{file.st_dev, file.st_ino};

  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    *error = "cannot list /proc: " + ErrorText(errno);
    return Found::kFailed;
  }
  std::vector<uint32_t> ids;
  while (const dirent* item = readdir(proc)) {
    uint32_t id = 0;
    if (ParseId(item->d_name, &id)) ids.push_back(id);
  }
  closedir(proc);
  std::sort(ids.begin(), ids.end());

  *running = {};
  for (uint32_t id : ids) {
    const std::string dir = "/proc/" + std::to_string(id);
    switch (MatchProcess(dir, program, path, caller)) {
      case ProcessMatch::kProgram:
        if (Hold(id, dir, program, path) >= 0) running->ids.push_back(id);
        break;
      case ProcessMatch::kReplacedProgram:
        running->replaced.push_back(id);
        break;
      case ProcessMatch::kOther:
        break;
    }
  }
  return Found::kYes;
}

// The pidfd is taken first and the process looked at again afterwards: if
// its id was reused in between, the second look sees the process the pidfd
// holds; if it ends after that, the pidfd outlives it and signals no one.
int PosixProcessControl::Hold(uint32_t id, const std::string& dir, const FileIdentity& program,
                              const std::string& path) {
  auto known = held.find(id);
  if (known != held.end()) return known->second;
  int fd = OpenPidfd(id);
  if (fd < 0) return -1;
  if (MatchProcess(dir, program, path, caller) != ProcessMatch::kProgram) {
    close(fd);
    return -1;
  }
  held[id] = fd;
  return fd;
}

bool PosixProcessControl::Terminate(uint32_t id, std::string* error) {
  auto found = held.find(id);
  if (found == held.end()) {
    *error = "not found by this search";
    return false;
  }
  // A process that has ended already is where it was asked to go.
  if (SendSignal(found->second, SIGTERM) != 0 && errno != ESRCH) {
    *error = ErrorText(errno);
    return false;
  }
  return true;
}

std::vector<uint32_t> PosixProcessControl::WaitForEnd(const std::vector<uint32_t>& ids,
                                                      int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<uint32_t> waiting;
  for (uint32_t id : ids) {
    if (held.count(id) != 0) waiting.push_back(id);
  }
  while (!waiting.empty()) {
    std::vector<pollfd> fds;
    for (uint32_t id : waiting) fds.push_back({held[id], POLLIN, 0});
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    int ready = poll(fds.data(), fds.size(), static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) break;
    std::vector<uint32_t> still;
    for (size_t i = 0; i < fds.size(); ++i) {
      // A pidfd becomes readable when its process has ended.
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) still.push_back(waiting[i]);
    }
    waiting.swap(still);
  }
  return waiting;
}

std::unique_ptr<ProcessControl> MakeSystemProcessControl() {
  return std::make_unique<PosixProcessControl>(static_cast<uint32_t>(getuid()));
}

}  // namespace pelko::stoptool
