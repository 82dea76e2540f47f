// Deletes old log files.
#pragma once

#include "agent/core/worker_thread.h"
#include "agent/logs/log_locks.h"

namespace pelko {

inline constexpr uint32_t PurgePeriodMs = 21600000;

class LogPurgeThread : public WorkerThread {
 public:
  LogPurgeThread(const Env& env, LogLocks& logLocks)
      : WorkerThread(env), logLocks(logLocks) {}
  ~LogPurgeThread() { Stop(); }

  uint32_t Run(uint32_t argument) override;

 private:
  LogLocks& logLocks;
};

}  // namespace pelko
