// Mails the accounting report at a fixed cadence: rebuilds the global log,
// makes its stylesheet reference remote, names it in ToSendFile and starts
// the mail program.
#pragma once

#include <memory>
#include <string>

#include "agent/config/registry_value.h"
#include "agent/core/worker_thread.h"
#include "agent/logs/log_locks.h"
#include "agent/platform/launcher.h"

namespace pelko {

inline constexpr char StylesheetLocal[] =
    "<?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?>";
// The same instruction naming the stylesheet on the public web server; the
// host is a setting of the build.
inline constexpr char StylesheetRemote[] =
    "<?xml-stylesheet href='http://" PELKO_STYLESHEET_HOST "/Pelko/Tavisk.xsl' type='text/xsl' ?>";
inline constexpr char kMailProgramName[] = "Sendrik.exe";

// A frequency of 0 (or none) must not start the mail program in a tight loop.
inline constexpr uint32_t kMinimumAlertWaitMs = 60000;

// Every StylesheetLocal in document becomes StylesheetRemote.
void MakeStylesheetRemote(std::string& document);

// The wait after a cycle for a frequency in minutes, at least one minute
// and at most the longest wait there is.
uint32_t AlertWaitMs(uint32_t minutes);

class EmailAlertThread : public WorkerThread {
 public:
  EmailAlertThread(const Env& env, LogLocks& logLocks, RegistryStringValue& globalPath)
      : WorkerThread(env), logLocks(logLocks), globalPath(globalPath) {}
  ~EmailAlertThread() { Stop(); }

  uint32_t Run(uint32_t argument) override;

  // One cycle; returns the wait before the next one. path is the Path value
  // held since the thread started.
  uint32_t Cycle(RegistryDwordValue& frequency, RegistryStringValue& path);

 private:
  void MailGlobalLog(const std::string& logPath, RegistryStringValue& path);

  LogLocks& logLocks;
  RegistryStringValue& globalPath;
  std::shared_ptr<StartedProgram> lastMail;
};

}  // namespace pelko
