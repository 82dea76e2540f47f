// Every kind of trouble (or news) the agent and its programs tell the
// system's log, by the event ID administrators filter and alert on
// (docs/monitoring.md). An ID, once given, keeps its meaning: the Windows
// message file (win32/pelko_events.mc) holds each one's text, and sites
// have alerts on them. The thousands are the category.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelko {

enum class EventCategory : uint16_t {
  kAgent = 1,
  kPrinters = 2,
  kLogs = 3,
  kMail = 4,
  kDatabase = 5,
  kSettings = 6,
};
inline constexpr uint16_t kEventCategoryCount = 6;

enum class EventKind : uint16_t {
  kAgentStarted = 1000,
  kAgentStopped = 1001,
  kWorkerFailed = 1010,
  kWorkerRestarted = 1011,
  kSupervisorFailed = 1012,
  kOther = 1099,

  kQueueUnreadable = 2001,  // the printer is not found, or the spooler refuses
  kJobsCaughtUp = 2002,
  kMeasureBacklog = 2003,
  kJobBookUnwritable = 2004,
  kSpoolerUnreachable = 2005,  // was 2001 before it had its own

  kLogWriteFailed = 3001,
  kPagesPending = 3002,
  kLogUnreadable = 3003,
  kLogSetAside = 3004,
  kLogTotalWrong = 3005,
  kGlobalLogFull = 3006,

  kMailProgramNotStarted = 4001,
  kMailProgramRefused = 4002,
  kMailSkipped = 4003,
  kMailServerUnreachable = 4010,
  kMailLoginRefused = 4011,
  kMailTlsFailed = 4012,
  kMailRejected = 4013,
  kMailNotSent = 4014,
  kMailNothingToSend = 4015,
  kMailWorksAgain = 4020,
  kMailLogRefused = 4030,
  kSiteReportFallback = 4031,

  kDatabaseUnreachable = 5001,
  kDatabaseBack = 5002,
  kDatabaseUpgraded = 5003,

  kSettingInvalid = 6001,
  kRegistryStoreRefused = 6002,
};

// For the tests that hold the message file and the documentation to the list.
inline constexpr EventKind kEveryEventKind[] = {
    EventKind::kAgentStarted,          EventKind::kAgentStopped,
    EventKind::kWorkerFailed,          EventKind::kWorkerRestarted,
    EventKind::kSupervisorFailed,      EventKind::kOther,
    EventKind::kQueueUnreadable,       EventKind::kJobsCaughtUp,
    EventKind::kMeasureBacklog,        EventKind::kJobBookUnwritable,
    EventKind::kSpoolerUnreachable,    EventKind::kLogWriteFailed,
    EventKind::kPagesPending,          EventKind::kLogUnreadable,
    EventKind::kLogSetAside,           EventKind::kLogTotalWrong,
    EventKind::kGlobalLogFull,         EventKind::kMailProgramNotStarted,
    EventKind::kMailProgramRefused,    EventKind::kMailSkipped,
    EventKind::kMailServerUnreachable, EventKind::kMailLoginRefused,
    EventKind::kMailTlsFailed,         EventKind::kMailRejected,
    EventKind::kMailNotSent,           EventKind::kMailNothingToSend,
    EventKind::kMailWorksAgain,        EventKind::kMailLogRefused,
    EventKind::kSiteReportFallback,    EventKind::kDatabaseUnreachable,
    EventKind::kDatabaseBack,          EventKind::kDatabaseUpgraded,
    EventKind::kSettingInvalid,        EventKind::kRegistryStoreRefused,
};

inline constexpr uint16_t EventId(EventKind kind) { return static_cast<uint16_t>(kind); }

inline constexpr EventCategory CategoryOf(EventKind kind) {
  return static_cast<EventCategory>(EventId(kind) / 1000);
}

// "[E3001] ": how the POSIX log marks a line's kind, for journalctl -g and grep.
inline std::string EventTag(EventKind kind) { return "[E" + std::to_string(EventId(kind)) + "] "; }

// The kind of a trouble said with only its report key: the printer workers
// and the logs begin each key with the words that name it ("write " plus
// the file).
inline EventKind KindOfTroubleKey(std::string_view key) {
  struct Prefix {
    std::string_view words;
    EventKind kind;
  };
  static constexpr Prefix kPrefixes[] = {
      {"queue ", EventKind::kQueueUnreadable},  {"spooler ", EventKind::kSpoolerUnreachable},
      {"caught up ", EventKind::kJobsCaughtUp}, {"measure ", EventKind::kMeasureBacklog},
      {"seen ", EventKind::kJobBookUnwritable}, {"write ", EventKind::kLogWriteFailed},
      {"pending ", EventKind::kPagesPending},   {"read ", EventKind::kLogUnreadable},
      {"aside ", EventKind::kLogSetAside},      {"total ", EventKind::kLogTotalWrong},
      {"full ", EventKind::kGlobalLogFull},
  };
  for (const Prefix& prefix : kPrefixes) {
    if (key.starts_with(prefix.words)) return prefix.kind;
  }
  return EventKind::kOther;
}

}  // namespace pelko
