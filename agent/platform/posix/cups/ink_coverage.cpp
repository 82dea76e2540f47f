#include "agent/platform/posix/cups/ink_coverage.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <sstream>

#include "agent/platform/posix/process/child_signals.h"
#include "agent/platform/posix/process/system_tool.h"

namespace pelko {

namespace {

using SteadyClock = std::chrono::steady_clock;

// What a page-size hook says before it stops Ghostscript, on its stdout.
constexpr char kPageTooLarge[] = "PelkoPageTooLarge";

// ink_cov weighs each pixel by the ink laid there; inkcov, which counts a
// pixel as inked whatever the amount, gives a pastel colour photograph
// the same cyan, magenta and yellow as a grey one. UseFastColor converts
// RGB without the ICC profile's grey balance, so that an RGB grey is equal
// cyan, magenta and yellow, as neutral as it looks; 30 dpi keeps it cheap
// and judges every page of the corpus as at 150.
std::vector<std::string> GhostscriptArgs(const std::string& program, const InkLimits& limits) {
  const std::string side = std::to_string(limits.maxPageSidePoints);
  return {program, "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOPROMPT", "-q", "-sDEVICE=ink_cov",
          "-dUseFastColor", "-r30",
          // The device writes to a pipe of its own (fd 3), so that nothing a
          // document prints can pass for a page's measure.
          "-sOutputFile=/dev/fd/3", "-c",
          "<< /BeginPage { pop currentpagedevice /PageSize get aload pop " + side + " gt exch " +
              side + " gt or { (" + kPageTooLarge + ") = flush /" + kPageTooLarge +
              " /limitcheck signalerror } if } >> setpagedevice",
          "-f", "/dev/fd/0"};
}

struct Account {
  bool change = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

// Between fork and exec: async-signal-safe calls only. What fails before
// the exec is said on setup (close-on-exec, so the exec closes it unsaid).
[[noreturn]] void StartMeasuring(const char* program, char* const* argv, char* const* envp,
                                 int documentFd, int messages, int output, int setup,
                                 const InkLimits& limits, const Account& account) {
  const auto fail = [&setup](char code) {
    (void)!write(setup, &code, 1);
    _exit(125);
  };
  setpgid(0, 0);
  DefaultSignals();
  const int null = open("/dev/null", O_WRONLY);
  // Above the three the child keeps, so that no dup2 below overwrites one.
  const int doc = fcntl(documentFd, F_DUPFD, 10), msg = fcntl(messages, F_DUPFD, 10),
            out = fcntl(output, F_DUPFD, 10), err = fcntl(null, F_DUPFD, 10),
            said = fcntl(setup, F_DUPFD_CLOEXEC, 10);
  if (doc < 0 || msg < 0 || out < 0 || err < 0 || said < 0 || dup2(doc, 0) < 0 ||
      dup2(msg, 1) < 0 || dup2(err, 2) < 0 || dup2(out, 3) < 0 || dup3(said, 4, O_CLOEXEC) < 0) {
    fail('f');
  }
  setup = 4;
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 5U, ~0U, 0U) != 0)
#endif
  {
    for (int fd = 5; fd < 65536; ++fd) close(fd);
  }
  const auto limit = [](int resource, rlim_t value) {
    const rlimit both{value, value};
    return setrlimit(resource, &both) == 0;
  };
  const rlim_t seconds = static_cast<rlim_t>(limits.measureMs / 1000 + 1);
  if (!limit(RLIMIT_CPU, seconds) || !limit(RLIMIT_AS, limits.addressSpaceBytes) ||
      !limit(RLIMIT_FSIZE, 0) || !limit(RLIMIT_NOFILE, 64) || !limit(RLIMIT_CORE, 0)) {
    fail('l');
  }
  if (account.change &&
      (setgroups(0, nullptr) != 0 || setgid(account.gid) != 0 || setuid(account.uid) != 0)) {
    fail('u');
  }
  if (getuid() == 0 || geteuid() == 0 || chdir("/") != 0) fail('u');
  execve(program, argv, envp);
  fail('e');
}

struct Streams {
  std::string output, messages;
  bool overflow = false, late = false;
};

// Reads the device's output and the document's messages until both end,
// the deadline passes or the output passes its bound.
void ReadStreams(int out, int msg, SteadyClock::time_point deadline, std::size_t maxOutput,
                 const std::atomic<bool>& cancelled, Streams* streams) {
  // How often a cancel is looked for while Ghostscript works.
  constexpr int64_t kCancelLookMs = 100;
  constexpr std::size_t kMessageBytes = 4096;
  pollfd fds[2] = {{out, POLLIN, 0}, {msg, POLLIN, 0}};
  char chunk[8192];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0 || cancelled.load()) {
      streams->late = true;
      return;
    }
    const int polled =
        poll(fds, 2, static_cast<int>(std::min<int64_t>(left.count(), kCancelLookMs)));
    if (polled <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        fds[i].fd = -1;
        continue;
      }
      std::string& text = i == 0 ? streams->output : streams->messages;
      const std::size_t bound = i == 0 ? maxOutput : kMessageBytes;
      if (text.size() + static_cast<std::size_t>(got) > bound) {
        if (i == 0) {
          streams->overflow = true;
          return;
        }
        text.append(chunk, bound - text.size());
        continue;
      }
      text.append(chunk, static_cast<std::size_t>(got));
    }
  }
}

class Fds {
 public:
  ~Fds() {
    for (const int fd : fds) close(fd);
  }
  int Keep(int fd) {
    if (fd >= 0) fds.push_back(fd);
    return fd;
  }
  void Close(int fd) {
    fds.erase(std::remove(fds.begin(), fds.end(), fd), fds.end());
    close(fd);
  }

 private:
  std::vector<int> fds;
};

}  // namespace

bool MeasuringAccount(const std::string& name, uid_t* uid, gid_t* gid) {
  if (geteuid() != 0) {
    *uid = geteuid();
    *gid = getegid();
    return true;
  }
  std::vector<char> buffer(16384);
  passwd entry{}, *found = nullptr;
  if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || entry.pw_uid == 0 || entry.pw_gid == 0) {
    return false;
  }
  *uid = entry.pw_uid;
  *gid = entry.pw_gid;
  return true;
}

bool ParseInkCoverage(std::string_view output, std::vector<PageInk>* pages) {
  pages->clear();
  std::istringstream lines{std::string(output)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word[6], extra;
    double value[4];
    for (std::string& w : word) words >> w;
    if (words >> extra || word[4] != "CMYK" || word[5] != "OK") return false;
    for (int i = 0; i < 4; ++i) {
      const char* end = word[i].data() + word[i].size();
      const auto [stop, error] = std::from_chars(word[i].data(), end, value[i]);
      if (error != std::errc() || stop != end || !(value[i] >= 0 && value[i] <= 100)) {
        return false;
      }
    }
    pages->push_back({value[0] / 100, value[1] / 100, value[2] / 100, value[3] / 100});
  }
  return !pages->empty();
}

InkStatus MeasureInkCoverage(int documentFd, const InkLimits& limits, std::vector<PageInk>* pages,
                             const std::atomic<bool>& cancelled) {
  pages->clear();
  std::string why;
  const std::string program = FindSystemProgram("gs", &why);
  Account account;
  if (program.empty() || !MeasuringAccount(limits.account, &account.uid, &account.gid)) {
    return InkStatus::kUnsupported;
  }
  account.change = geteuid() == 0;
  std::vector<std::string> argText = GhostscriptArgs(program, limits);
  std::vector<char*> argv;
  for (std::string& arg : argText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::string path = kSystemPath, locale = "LC_ALL=C";
  char* envp[] = {path.data(), locale.data(), nullptr};

  Fds fds;
  int out[2], msg[2], setup[2];
  for (int* ends : {out, msg, setup}) {
    if (pipe2(ends, O_CLOEXEC) != 0) return InkStatus::kBound;
    fds.Keep(ends[0]);
    fds.Keep(ends[1]);
  }
  // Ghostscript opens /dev/fd/3 by name, which its account may do only to
  // a pipe of its own. A root without the capability (the packaged
  // service's) cannot hand it over, nor change users: it measures nothing.
  if (account.change && fchown(out[1], account.uid, account.gid) != 0) {
    return InkStatus::kUnsupported;
  }

  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limits.measureMs);
  const pid_t child = fork();
  if (child < 0) return InkStatus::kBound;
  if (child == 0) {
    StartMeasuring(program.c_str(), argv.data(), envp, documentFd, msg[1], out[1], setup[1], limits,
                   account);
  }
  setpgid(child, child);
  fds.Close(out[1]);
  fds.Close(msg[1]);
  fds.Close(setup[1]);
  // Nothing comes when the exec succeeded; a byte when the limits or the
  // change of user were refused.
  char refused = 0;
  ssize_t said;
  while ((said = read(setup[0], &refused, 1)) < 0 && errno == EINTR) {
  }
  Streams streams;
  ReadStreams(out[0], msg[0], deadline, limits.maxOutputBytes, cancelled, &streams);
  const bool ended = !streams.late && !streams.overflow && ChildEndsBy(child, deadline);
  // The group goes whatever happened, while its leader is unreaped and so
  // its number still ours.
  kill(-child, SIGKILL);
  kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (said > 0) return InkStatus::kUnsupported;
  if (!ended) return InkStatus::kBound;
  if (streams.messages.find(kPageTooLarge) != std::string::npos) return InkStatus::kBound;
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return sig == SIGXCPU || sig == SIGKILL || sig == SIGXFSZ ? InkStatus::kBound
                                                              : InkStatus::kUnreadable;
  }
  if (WEXITSTATUS(status) != 0) {
    return streams.messages.find("VMerror") != std::string::npos ? InkStatus::kBound
                                                                 : InkStatus::kUnreadable;
  }
  if (!ParseInkCoverage(streams.output, pages)) {
    pages->clear();
    return InkStatus::kUnreadable;
  }
  return InkStatus::kOk;
}

}  // namespace pelko
