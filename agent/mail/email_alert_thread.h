// Mails the global log at a fixed cadence.
#pragma once

#include "agent/config/registry_value.h"
#include "agent/core/worker_thread.h"
#include "agent/logs/log_locks.h"

namespace pelko {

class EmailAlertThread : public WorkerThread {
 public:
  EmailAlertThread(const Env& env, LogLocks& logLocks, RegistryStringValue& globalPath)
      : WorkerThread(env), logLocks(logLocks), globalPath(globalPath) {}
  ~EmailAlertThread() { Stop(); }

  uint32_t Run(uint32_t argument) override;

 private:
  LogLocks& logLocks;
  RegistryStringValue& globalPath;
};

}  // namespace pelko
