// Records one job in its printer's daily log file.
#pragma once

#include <cstdint>
#include <string>

#include "agent/logs/log_locks.h"
#include "agent/platform/env.h"
#include "agent/worker/waiter.h"

namespace pelko {

// One job's figures on their way into its printer's daily log: pages and
// cost to add to the job's entry, and the time the entry is stamped with.
struct JobRecord {
  std::string printerName;
  int32_t jobId = 0;
  std::string userName;
  std::string documentName;
  int32_t pages = 0;
  int32_t cost = 0;
  LocalTime stamp;
  // Entered in the log of the stamp's day where it is still kept.
  bool onStampDay = false;
  // The job's first pages, where the log may hold an earlier job under the
  // same id (a spooler that numbers from 1 again): a new entry, whatever
  // the log holds.
  bool startsEntry = false;
};

// True once the job's entry is in the file; false when the file could not
// be read or written, which leaves it as it was. The job's entry is the
// newest one of the same id, printer and user; another job's entry is never
// changed. The file is today's; with
// onStampDay, the log of the stamp's day where that file is still there (a
// job that ended on an earlier day, entered late), else today's.
bool RecordJob(const Env& env, LogLocks& locks, const Waiter& pause, const JobRecord& job);

}  // namespace pelko
