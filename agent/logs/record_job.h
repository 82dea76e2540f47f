// Records one job in its printer's daily log file.
#pragma once

#include <cstdint>
#include <string>

#include "agent/core/waiter.h"
#include "agent/logs/log_locks.h"
#include "agent/platform/env.h"

namespace pelko {

// True once the job's entry is in the file; false when the file could not
// be read or written, which leaves it as it was. The file is today's; with
// onStampDay, the log of the stamp's day where that file is still there (a
// job that ended on an earlier day, entered late), else today's.
bool RecordJob(const Env& env, LogLocks& locks, const Waiter& pause,
               const std::string& printerName, int32_t jobId,
               const std::string& userName, const std::string& documentName,
               int32_t pages, int32_t cost, const LocalTime& stamp, bool onStampDay = false);

}  // namespace pelko
