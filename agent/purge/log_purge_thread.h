// Deletes old log files.
#pragma once

#include "agent/core/worker_thread.h"

namespace pelko {

inline constexpr uint32_t PurgePeriodMs = 21600000;

class LogPurgeThread : public WorkerThread {
 public:
  explicit LogPurgeThread(const Env& env) : WorkerThread(env) {}
  ~LogPurgeThread() { Stop(); }

  uint32_t Run(uint32_t argument) override;
};

}  // namespace pelko
