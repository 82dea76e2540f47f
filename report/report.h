// A report built from its jobs (figures.h), whichever source gave them, and
// the texts every writer shows of it.
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
#include "report/figures.h"

namespace pelko::report {

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
