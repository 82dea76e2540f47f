// Mails the accounting report at a fixed cadence: rebuilds the global log,
// makes its stylesheet reference remote, names it in ToSendFile and starts
// the mail program.
#pragma once

#include <memory>
#include <string>

#include "agent/config/registry_value.h"
#include "agent/logs/log_locks.h"
#include "agent/platform/clock.h"
#include "agent/platform/launcher.h"
#include "agent/worker/worker_thread.h"

namespace pelko {

// The stylesheet instruction naming the stylesheet on the public web server; the
// host is a setting of the build.
inline constexpr char StylesheetRemote[] =
    "<?xml-stylesheet href='http://" PELKO_STYLESHEET_HOST "/Pelko/Tavisk.xsl' type='text/xsl' ?>";
inline constexpr char kMailProgramName[] = "Sendrik.exe";
// The host StylesheetRemote names unless the StylesheetHost setting names
// another.
inline constexpr char kDefaultStylesheetHost[] = PELKO_STYLESHEET_HOST;

// With EmailAlertTime set, the thread looks at the clock at least this
// often, so that a changed time or a clock set forward is followed.
inline constexpr uint32_t kTimeOfDayLookMs = 60000;
// A mailing at a time of day is still made this late (the agent started,
// or the machine woke, just after the time); later it waits for tomorrow.
inline constexpr int kTimeOfDayGraceMinutes = 60;

// A frequency of 0 (or none) must not start the mail program in a tight loop.
inline constexpr uint32_t kMinimumAlertWaitMs = 60000;

// The stylesheet instruction of a mailed global log: StylesheetRemote,
// naming host.
std::string RemoteStylesheet(const std::string& host = kDefaultStylesheetHost);

// The StylesheetHost setting when it is a host name, else the build's.
std::string StylesheetHostOf(const std::string& setting);

// The wait from now to the next hh:mm (minutes after midnight), at least 1 ms.
uint32_t MsUntilTimeOfDay(const LocalTime& now, int minutes);

// The wait after a cycle for a frequency in minutes, at least one minute
// and at most the longest wait there is.
uint32_t AlertWaitMs(uint32_t minutes);

// Whether the mail program may be started from folder (the Path): the
// folder, its Logs and the program itself, each out of everyone else's
// reach (Launcher::Vet). The system's own account runs the program, which
// writes in Logs. The first that is not, with its reason; else kStarted.
LaunchResult VetMailProgram(const Env& env, const std::string& folder);

class EmailAlertThread : public WorkerThread {
 public:
  EmailAlertThread(const Env& env, LogLocks& logLocks, RegistryStringValue& globalPath)
      : WorkerThread(env), logLocks(logLocks), globalPath(globalPath) {}
  ~EmailAlertThread() { Stop(); }

  void Run() override;

  // One cycle; returns the wait before the next one. path is the Path value
  // held since the thread started.
  uint32_t Cycle(RegistryDwordValue& frequency, RegistryStringValue& path);
  // One turn of the loop: a cycle every EmailAlertFreq minutes, or, with
  // EmailAlertTime set, one a day at that time. Returns the wait.
  uint32_t Step(RegistryDwordValue& frequency, RegistryStringValue& path);

 private:
  void MailGlobalLog(const std::string& logPath, RegistryStringValue& path);

  LogLocks& logLocks;
  RegistryStringValue& globalPath;
  std::shared_ptr<StartedProgram> lastMail;
  int lastDailyMail = 0;  // yyyymmdd of the last mailing at a time of day
};

}  // namespace pelko
