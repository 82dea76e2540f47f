// Records one job in its printer's daily log file.
#pragma once

#include <cstdint>
#include <string>

#include "agent/logs/log_locks.h"
#include "agent/platform/env.h"
#include "agent/worker/waiter.h"

namespace pelko {

// True once the job's entry is in the file; false when the file could not
// be read or written, which leaves it as it was.
bool RecordJob(const Env& env, LogLocks& locks, const Waiter& pause,
               const std::string& printerName, int32_t jobId,
               const std::string& userName, const std::string& documentName,
               int32_t pages, int32_t cost, const LocalTime& stamp);

}  // namespace pelko
