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

// One entry of the printer's in a log read.
struct LoggedEntry {
  uint32_t id = 0;
  std::string day;    // of the log: "20261206"
  std::string stamp;  // as the entry has it: "2026/12/06 09:05:03"
  uint32_t pages = 0;
};

// What a printer's daily logs (and its pages pending) hold of its jobs.
struct EnteredJobs {
  std::map<uint32_t, EnteredJob> jobs;  // by id, the entries and pages pending
  std::vector<LoggedEntry> entries;
  std::map<JobIdentity, uint32_t> pending;  // pages not written yet, by job
  uint32_t highestId = 0;
  LocalTime newestStamp;
  LocalTime since;  // the start of the oldest day read

  void Add(uint32_t id, uint32_t pages, const LocalTime& stamp);
};

// Takes in the entries of printerName in the daily log of that day.
void AddLoggedEntries(std::string_view text, const std::string& printerName, EnteredJobs* entered,
                      const std::string& day = "");
// "2026/12/06 09:05:03": an entry's date and time, as the book claims it.
std::string EntryStamp(const LocalTime& t);
// The printer's daily logs of the last `days` days, today included, and
// any dated after today (a clock that was ahead).
EnteredJobs ReadEnteredJobs(const Env& env, const std::string& printerName, uint32_t days);

// The pages billed of a job the spooler tells of: those of the entries the
// book says are its own. With no book yet, those of every entry under its
// id that the book gives no other job, and its pages pending. None: the
// job was never billed, or was never the agent's.
std::optional<uint32_t> BilledPages(const SeenJobs& book, const EnteredJobs& entered,
                                    const SpoolJob& job);
// Claims for a job the entries under its id that no job claims: what the
// logs held of it when the book was begun.
void ClaimUnclaimedEntries(const EnteredJobs& entered, const JobIdentity& job, SeenJobs* book);

// A job that ended unwatched and the pages its entries lack.
struct MissedJob {
  SpoolJob job;
  uint32_t pages = 0;
};
// Of the ended jobs with final counts, those billed for less than their
// count. Every job the agent entered, and every one the spooler told of at
// a catch-up, is in the book from then on, so one it lacks ended unwatched.
// Where `pelkoctl add` recorded the start, a job it found ended is not
// taken, and every other one is. Else, with no book yet, a job with no
// entry is taken only above the highest id entered or shortly before the
// newest entry, and none where the logs hold nothing: it ended before the
// agent watched.
std::vector<MissedJob> MissedJobs(const SeenJobs& book, const EnteredJobs& entered,
                                  const std::vector<SpoolJob>& ended,
                                  const WatchStart* start = nullptr);
// After a catch-up: every ended job told goes into the book, those neither
// billed nor missed as jobs from before the watch, those the logs alone
// said were billed with their entries; the book is then known.
void SeeEndedJobs(const EnteredJobs& entered, const std::vector<SpoolJob>& ended,
                  const std::vector<MissedJob>& missed, SeenJobs* book);

// Seconds of a local date and time, for comparing and stepping (by days).
int64_t LocalSeconds(const LocalTime& t);
LocalTime DaysBefore(const LocalTime& t, uint32_t days);

}  // namespace pelko
