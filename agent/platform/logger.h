// Where the agent says what it absorbed: a log it could not write, pages it
// keeps pending, a worker it had to start again, a program it refused to
// run. The log files themselves never carry such lines. On POSIX it is
// syslog (the journal under systemd), on Win32 the Event Log.
//
// Safe for concurrent use from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "agent/platform/event_kind.h"

namespace pelko {

enum class Severity { kInfo, kWarning, kError };

class Logger {
 public:
  virtual ~Logger() = default;
  // Writes one line of a kind. Lines are plain text, no line breaks.
  virtual void Write(Severity severity, EventKind kind, const std::string& line) = 0;
};

// Says each distinct trouble once per window, so that a trouble that recurs
// at every 20 ms look cannot flood the system's log. `key` names the
// trouble (for example "write " plus the file); repeats of a key inside the
// window are counted and their number is said with the next line let
// through.
class TroubleReport {
 public:
  static constexpr uint64_t kWindowMs = 60 * 60 * 1000;
  static constexpr std::size_t kMaxKeys = 1024;

  explicit TroubleReport(Logger* logger) : logger(logger) {}

  // nowMs: a monotonic time in ms.
  void Say(EventKind kind, Severity severity, const std::string& key, const std::string& line,
           uint64_t nowMs);
  // The kind told by the key's first words (KindOfTroubleKey).
  void Say(Severity severity, const std::string& key, const std::string& line, uint64_t nowMs) {
    Say(KindOfTroubleKey(key), severity, key, line, nowMs);
  }

 private:
  struct Seen {
    uint64_t saidAt = 0;
    uint64_t repeats = 0;
  };
  Logger* logger;
  std::mutex mutex;
  std::map<std::string, Seen> seen;
};

Logger& PlatformLogger();

// The one report over PlatformLogger for the whole process, the Env's and
// that of parts that run without an Env. Inline, so that taking it links in
// nothing but the logger.
inline TroubleReport& PlatformTroubles() {
  static TroubleReport troubles(&PlatformLogger());
  return troubles;
}

inline void TroubleReport::Say(EventKind kind, Severity severity, const std::string& key,
                               const std::string& line, uint64_t nowMs) {
  if (logger == nullptr) return;
  uint64_t repeats = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = seen.find(key);
    if (found != seen.end() && nowMs - found->second.saidAt < kWindowMs) {
      ++found->second.repeats;
      return;
    }
    // A table full of old troubles is forgotten whole rather than grow.
    if (found == seen.end() && seen.size() >= kMaxKeys) seen.clear();
    Seen& entry = seen[key];
    repeats = entry.repeats;
    entry = Seen{nowMs, 0};
  }
  if (repeats == 0) {
    logger->Write(severity, kind, line);
  } else {
    logger->Write(
        severity, kind,
        line + " (and " + std::to_string(repeats) + " more times since it was last said)");
  }
}

}  // namespace pelko
