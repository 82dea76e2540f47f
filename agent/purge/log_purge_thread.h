// Deletes old log files: once at its start and then every PurgePeriodMs.
#pragma once

#include <string>

#include "agent/config/registry_value.h"
#include "agent/logs/log_locks.h"
#include "agent/worker/worker_thread.h"

namespace pelko {

inline constexpr uint32_t PurgePeriodMs = 21600000;

class LogPurgeThread : public WorkerThread {
 public:
  LogPurgeThread(const Env& env, LogLocks& logLocks) : WorkerThread(env), logLocks(logLocks) {}
  ~LogPurgeThread() { Stop(); }

  void Run() override;

 private:
  LogLocks& logLocks;
};

// Whether a log file whose name carries dateText (YYYYMMDD) is due for
// deletion today when logs are kept for days (DeleteLogsDays, unsigned).
bool IsLogExpired(const std::string& dateText, uint32_t days, const LocalTime& today);

// One cycle: deletes every expired .xml file under root, each in the folder
// the walk opened.
void PurgeLogs(const Env& env, LogLocks& logLocks, const std::string& root, uint32_t days,
               const LocalTime& today);

}  // namespace pelko
