// Jobs that ended while no printer thread watched their queue: the agent
// stopped or crashed, its printer threads restarted, the scheduler
// restarted. The spooler's job history holds them with their final pages;
// the daily logs hold what was billed of each, by id, and the printer's
// book (seen_jobs.h) which job, of those under one id, the entries are, so
// that no clock decides whether a job was entered. Where there is no book
// yet, the logs alone say it, once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/monitor/seen_jobs.h"
#include "agent/platform/env.h"
#include "agent/platform/spooler.h"

namespace pelko {

// Days of daily logs read back, today included; fewer where the purge keeps
// fewer.
inline constexpr uint32_t kCatchUpDays = 31;
// Ended jobs taken from the spooler at most, the newest.
inline constexpr std::size_t kMaxCaughtUp = 1000;
// With no book yet, a job not entered whose id is below the highest entered
// is one that ended unwatched only if it ended after the newest entry, less
// this much: a pass enters a job a few seconds after it ended, later on a
// busy queue. Older ones ended before the agent watched the queue.
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

  void Add(uint32_t id, uint32_t pages, const LocalTime& stamp);
};

// Takes in the entries of printerName in one daily log's text.
void AddLoggedEntries(std::string_view text, const std::string& printerName,
                      EnteredJobs* entered);
// The printer's daily logs of the last `days` days, today included, and
// any dated after today (a clock that was ahead).
EnteredJobs ReadEnteredJobs(const Env& env, const std::string& printerName, uint32_t days);

// The pages billed of a job the spooler tells of: what the logs (and its
// pages pending) hold under its id, where those are its entries: it is the
// last job seen under the id, or the book names none under it. A job seen
// before a later one under its id took the entries over counts as billed
// in full. None: the job was never billed (or was never the agent's).
std::optional<uint32_t> BilledPages(const SeenJobs& book, const EnteredJobs& entered,
                                    const SpoolJob& job);

// A job that ended unwatched and the pages its entries lack.
struct MissedJob {
  SpoolJob job;
  uint32_t pages = 0;
};
// Of the ended jobs with final counts, those billed for less than their
// count. Every job the agent entered, and every one the spooler told of at
// a catch-up, is in the book from then on, so one it lacks ended unwatched. With no book yet, a job
// with no entry is taken only above the highest id entered or shortly
// before the newest entry, and none where the logs hold nothing: it ended
// before the agent watched.
std::vector<MissedJob> MissedJobs(const SeenJobs& book, const EnteredJobs& entered,
                                  const std::vector<SpoolJob>& ended);
// After a catch-up: every ended job told goes into the book, those neither
// billed nor missed as jobs from before the watch; the book is then known.
void SeeEndedJobs(const EnteredJobs& entered, const std::vector<SpoolJob>& ended,
                  const std::vector<MissedJob>& missed, SeenJobs* book);

// Seconds of a local date and time, for comparing and stepping (by days).
int64_t LocalSeconds(const LocalTime& t);
LocalTime DaysBefore(const LocalTime& t, uint32_t days);

}  // namespace pelko
