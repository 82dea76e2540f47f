// Records one job in its printer's daily log file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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
  // When the spooler took the job, by its clock (SpoolJob::submittedAt).
  int64_t submittedAt = 0;
  // The date and time of the job's own entry in the log written
  // ("2026/12/06 09:05:03"), where the printer's book of seen jobs names
  // it: that entry is the job's, made with them if it is missing. Empty:
  // the newest entry of the job's id, printer and user.
  std::string entryStamp{};
  // How the pages were printed, kept in the entry where the administrator
  // asks for each job's details (LogJobDetails). The colour and mono pages
  // are added like the pages; a later measure of the document may move
  // some from one to the other with no pages of its own.
  int32_t colorPages = 0;
  int32_t monoPages = 0;
  uint32_t copies = 0;
  std::string sides{}, paper{}, client{};
  std::string colorFrom{};  // "document", "request" or "printer"; empty: as entered before
};

// The day ("20261206") of the log RecordJob would write the job into now.
std::string LogDayOf(const Env& env, const JobRecord& job);

// True once the job's entry is in the file; false when the file could not
// be read or written, which leaves it as it was. Another job's entry is
// never changed. The file is today's; with
// onStampDay, the log of the stamp's day where that file is still there (a
// job that ended on an earlier day, entered late), else today's.
bool RecordJob(const Env& env, LogLocks& locks, const Waiter& pause, const JobRecord& job);

// The text of the day's log old (empty: none yet) with the job added to its
// entry, or in a new one, and the Total made anew: what RecordJob writes.
// The log keeps the encoding it declares; a new one takes the names'.
std::string LogWithJob(std::string_view old, const LocalTime& day, const JobRecord& job,
                       bool namesUtf8, bool withDetails);

}  // namespace pelko
