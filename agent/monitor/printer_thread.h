// Watches one print queue.
#pragma once

#include <string>

#include "agent/core/worker_thread.h"
#include "agent/logs/log_locks.h"

namespace pelko {

class PrinterThread : public WorkerThread {
 public:
  PrinterThread(const Env& env, LogLocks& logLocks)
      : WorkerThread(env), logLocks(logLocks) {}
  ~PrinterThread() { Stop(); }

  uint32_t Run(uint32_t argument) override;

  std::string printerName;

 private:
  LogLocks& logLocks;
};

}  // namespace pelko
