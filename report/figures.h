// The figures of a report, whichever source gave its jobs (log files or the
// central database): totals, subtotals per user, printer, month and server,
// and the newest jobs. Every writer (HTML, text, summary, CSV) works from
// them. Names are in the report's encoding: UTF-8 from the database or where
// a log declares UTF-8 (LogUtf8), else windows-1252, as the logs hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/config/cost_unit.h"
#include "report/guard.h"

namespace pelko::report {

// Beyond this many jobs a report lists no more and says how many it left out.
inline constexpr std::size_t kListedJobs = 300;

struct Job {
  std::string date, time, id, user, printer, doc;
  int32_t pages = 0;
  int32_t cost = 0;
  // The entry's details (docs/logs.md), where it has them; braced so that
  // the jobs written as {date, ..., cost} need not name them.
  bool told = false;
  int32_t copies = 0, colorPages = 0, monoPages = 0;
  std::string sides{}, paper{}, client{}, colorFrom{};
  std::string server{};  // the database's server name; empty from the logs
};

// Newest first by date and time; then by every field, so that the same jobs
// stand in the same order whatever their source gave them in.
bool NewerFirst(const Job& a, const Job& b);

// How pages divide by colour. Only an entry's details tell it: the pages of
// an entry without them are not told apart, so that a report of old logs
// never calls their pages mono.
struct PageSplit {
  int64_t color = 0, mono = 0, untold = 0;
  int64_t toldJobs = 0;  // jobs whose entry has details
  void Add(const Job& job);
  void Add(const PageSplit& other);
};

struct Subtotal {
  std::string name;
  int64_t jobs = 0;
  int64_t pages = 0;
  int64_t cost = 0;
  PageSplit split{};
};

// Adds the figures of from (its name aside) to to.
void AddFigures(Subtotal& to, const Subtotal& from);

// The colour figures a report shows of a group, in order: none while no job
// of the whole report (all) told its pages apart, and the pages not told
// apart only where some are. Every writer shows the same columns by this.
struct PageFigure {
  std::string_view key;  // "color", "mono", "untold": for ids and CSV columns
  std::string_view label;
  int64_t value;
};
std::vector<PageFigure> SplitFigures(const PageSplit& all, const PageSplit& group);

// How many groups of jobs a report sums by: kJobGroups (columns.h).
inline constexpr std::size_t kGroupCount = 5;

struct Report {
  std::string title;     // the head's type of a single log, else empty
  std::string headDate;  // the head's date of a single log, else empty
  bool global = false;   // a global log (or several logs) rather than one daily log
  bool site = false;     // every server's jobs, from the central database
  // The period covered, YYYYMMDD: as asked, else the first and last date of
  // the jobs; empty without jobs and without asking.
  std::string from, to;
  TextEncoding encoding = TextEncoding::kWindows1252;  // of the names
  CostUnit costUnit;
  int64_t logs = 0;
  int64_t logsWithoutTotal = 0;
  int64_t recordedTotal = 0;  // the sum of the logs' Total entries
  int64_t jobs = 0;
  int64_t pages = 0;
  int64_t jobCost = 0;  // the sum of the jobs' costs
  PageSplit split;
  std::string firstDate, lastDate;
  std::vector<Subtotal> users, printers, servers;  // largest cost first, then by name
  std::vector<Subtotal> months;                    // "2026/12", in order
  std::vector<Subtotal> days;                      // "2026/12/07", in order
  std::vector<Job> listed;                         // the newest jobs, newest first
  int64_t unlisted = 0;

  int64_t TotalCost() const { return recordedTotal; }
  // The total recorded in the logs is not what their jobs add up to.
  bool TotalDiffers() const { return recordedTotal != jobCost; }
};

}  // namespace pelko::report
