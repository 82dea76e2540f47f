// The figures of a report, whichever source gave its jobs (log files or the
// central database): totals, subtotals per user, printer, month and server,
// and the newest jobs. Every writer (HTML, text, summary, CSV) works from it.
// Names are in the report's encoding: UTF-8 from the database or where a
// log declares UTF-8 (LogUtf8), else windows-1252, as the logs hold them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
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

class ReportBuilder {
 public:
  // sink, when given, sees every job in its source's order (for writers that
  // list them all); the listLimit newest jobs are kept in the report.
  explicit ReportBuilder(std::size_t listLimit = kListedJobs,
                         std::function<void(const Job&)> sink = {});

  // The period asked for (YYYYMMDD, either may be empty), the names'
  // encoding, how costs are shown, and whether the jobs are the site's.
  void Describe(std::string_view from, std::string_view to, TextEncoding encoding,
                const CostUnit& costUnit, bool site = false);
  // Adds the text of one log file. False when it is no log file (no "<log>"
  // at all); nothing is added then.
  bool AddLog(std::string_view text);
  // One job of a source without files; the database's total is its jobs'.
  // The copy is made only where the job is among the newest.
  void AddJob(Job&& job);
  void AddJob(const Job& job);
  // The figures of many jobs at once, none of them listed (the database's
  // sums): those of the jobs of one job date count for the totals, the
  // month and the day; the same jobs' figures by one of kJobGroups
  // (columns.h: server, user, printer; figures.name names it) for those.
  void AddDayFigures(const std::string& jobDate, const Subtotal& figures);
  void AddGroupFigures(std::size_t group, const Subtotal& figures);
  // One of the jobs counted so, among those to list.
  void ListJob(Job&& job);
  std::size_t ListLimit() const { return listLimit; }
  Report Finish();

 private:
  void Keep(Job&& job);
  void Tally(const Job& job);
  bool Listable(const Job& job) const;
  void SeeDate(const std::string& date);

  std::size_t listLimit;
  std::function<void(const Job&)> sink;
  Report report;
  std::string singleTitle, singleDate;
  bool asked = false;
  bool trimmed = false;  // listed was cut to listLimit at least once
  // Indexed as kJobGroups.
  std::array<std::map<std::string, Subtotal, std::less<>>, kGroupCount> groups;
};

// A log date YYYYMMDD or a job's date YYYY/MM/DD as people read it:
// "2026-12-07".
std::string ShownDate(std::string_view date);
// A month "2026/12" (or "202612") as people read it: "December 2026".
std::string ShownMonth(std::string_view month);
// The period of a report: "2026-12-07", "December 2026", "2026-11-01 to
// 2026-12-07", "until 2026-12-07"; empty without one.
std::string PeriodText(std::string_view from, std::string_view to);
// A report's heading: a single log's type (a daily log's printer, "Global
// Log"), else the period it covers, or "No jobs".
std::string Headline(const Report& report);
// The line under it: a daily log's date; a global log's date of building
// and its jobs' period; how many logs, or the database's servers.
std::string WhenLine(const Report& report);
// "2026/12/07" -> "20261207"; anything else as it is.
std::string LogDateOf(std::string_view jobDate);

// "1 234 567": thousands separated by sep.
std::string GroupThousands(int64_t n, std::string_view sep = " ");
// A cost of the report as shown: "1 311", or "13.11 EUR" with CostUnit EUR/2.
std::string ShownCost(const Report& report, int64_t cost, std::string_view sep = " ");

}  // namespace pelko::report
