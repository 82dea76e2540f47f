#include "agent/platform/logger.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace pelko {

namespace {

int Priority(Severity severity) {
  return severity == Severity::kError     ? LOG_ERR
         : severity == Severity::kWarning ? LOG_WARNING
                                          : LOG_INFO;
}

// systemd names the journal stream it gave a service as "device:inode". A
// child whose stderr was redirected inherits the variable too, so it counts
// only while stderr still is that stream.
bool StderrIsTheJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  uintmax_t device = 0;
  uintmax_t inode = 0;
  if (std::sscanf(stream, "%" SCNuMAX ":%" SCNuMAX, &device, &inode) != 2) return false;
  struct stat status;
  if (fstat(STDERR_FILENO, &status) != 0) return false;
  return status.st_dev == device && status.st_ino == inode;
}

// Under systemd a line on stderr is a journal entry; its "<N>" prefix
// carries the priority. Elsewhere syslog, as a daemon should. Either way the
// line begins with its kind's tag, "[E3001] ", which `journalctl -g` and
// grep find (the stream cannot carry a journal field of its own).
class SystemLogger : public Logger {
 public:
  SystemLogger() : toJournal(StderrIsTheJournal()) {
    if (!toJournal) openlog("pelkomon", LOG_PID | LOG_NDELAY, LOG_DAEMON);
  }

  void Write(Severity severity, EventKind kind, const std::string& line) override {
    if (!toJournal) {
      syslog(Priority(severity), "%s%s", EventTag(kind).c_str(), line.c_str());
      return;
    }
    // One write per line, so that lines of several threads never mix; a
    // line break inside would start an entry without its priority.
    std::string entry = "<" + std::to_string(Priority(severity)) + ">" + EventTag(kind) + line;
    for (char& c : entry) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    entry += '\n';
    ssize_t ignored = write(STDERR_FILENO, entry.data(), entry.size());
    (void)ignored;
  }

 private:
  const bool toJournal;
};

}  // namespace

Logger& PlatformLogger() {
  static SystemLogger service;
  return service;
}

}  // namespace pelko
