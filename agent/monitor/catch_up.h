// Jobs that ended while no printer thread watched their queue: the agent
// stopped or crashed, its printer threads restarted, the scheduler
// restarted. The spooler's job history holds them with their final pages;
// the printer's daily logs hold what was entered, by job id. What the logs
// lack is entered, once: the logs are the mark, so it survives any restart,
// needs no file of its own, and cannot disagree with what was billed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/platform/env.h"
#include "agent/platform/spooler.h"

namespace pelko {

// Days of daily logs read back, today included; fewer where the purge keeps
// fewer.
inline constexpr uint32_t kCatchUpDays = 31;
// Ended jobs taken from the spooler at most, the newest.
inline constexpr std::size_t kMaxCaughtUp = 1000;
// A job not entered whose id is below the highest entered is one that
// ended unwatched only if it ended after the newest entry, less this much:
// a pass enters a job a few seconds after it ended, later on a busy queue.
// Older ones ended before the agent watched the queue. An entry is another
// job's only if it is older than the job by more than this: a remote
// server's clock may be off.
inline constexpr int64_t kCatchUpSlackSeconds = 600;

struct EnteredJob {
  uint32_t pages = 0;
  LocalTime firstStamp;  // the earliest entry's date and time
};

// What a printer's daily logs (and its pages pending) hold of its jobs.
struct EnteredJobs {
  std::map<uint32_t, EnteredJob> jobs;
  uint32_t highestId = 0;
  LocalTime newestStamp;
  LocalTime since;  // the start of the oldest day read
  // When the agent first watched the printer ("<printer>.watched" beside
  // the logs); none where that could not be read.
  std::optional<LocalTime> watchedSince;

  void Add(uint32_t id, uint32_t pages, const LocalTime& stamp);
};

// Takes in the entries of printerName in one daily log's text.
void AddLoggedEntries(std::string_view text, const std::string& printerName,
                      EnteredJobs* entered);
// The printer's daily logs of the last `days` days, today included, and
// when the agent first watched it (marked now where it never did).
EnteredJobs ReadEnteredJobs(const Env& env, const std::string& printerName, uint32_t days);
// When the agent first watched the printer; marks now where nothing is
// marked yet.
std::optional<LocalTime> WatchedSince(const Env& env, const std::string& printerName);

// The pages the logs hold of a job the spooler tells of; 0 where their
// entry under its id is another job's, made well before this one was (a
// scheduler whose ids started again).
uint32_t EnteredPages(const EnteredJobs& entered, const SpoolJob& job);

// A job that ended unwatched and the pages its entries lack.
struct MissedJob {
  SpoolJob job;
  uint32_t pages = 0;
};
// Of the ended jobs with final counts, those the logs lack wholly or in part.
// Every ended job gets an entry while the agent watches, so a job with none
// that ended since the agent first watched the printer ended unwatched; what
// ended before is not ours to bill. Where that time is not known, a job
// with no entry is taken only above the highest id entered or shortly
// before the newest entry, and none where the logs hold nothing.
std::vector<MissedJob> MissedJobs(const EnteredJobs& entered, const std::vector<SpoolJob>& ended);

// Seconds of a local date and time, for comparing and stepping (by days).
int64_t LocalSeconds(const LocalTime& t);
LocalTime DaysBefore(const LocalTime& t, uint32_t days);

}  // namespace pelko
