// The figures of one or more log files, as the report shows them: totals,
// subtotals per user and per printer, and the first jobs in file order.
// Names stay the Windows ANSI bytes the agent wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

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
};

// How pages divide by colour. Only an entry's details tell it: the pages of
// an entry without them are not told apart, so that a report of old logs
// never calls their pages mono.
struct PageSplit {
  int64_t color = 0, mono = 0, untold = 0;
  int64_t toldJobs = 0;  // jobs whose entry has details
  void Add(const Job& job);
};

struct Subtotal {
  std::string name;
  int64_t jobs = 0;
  int64_t pages = 0;
  int64_t cost = 0;
  PageSplit split{};
};

// The colour figures a report shows of a group, in order: none while no job
// of the whole report (all) told its pages apart, and the pages not told
// apart only where some are. Every writer shows the same columns by this.
struct PageFigure {
  std::string_view key;  // "color", "mono", "untold": for ids and CSV columns
  std::string_view label;
  int64_t value;
};
std::vector<PageFigure> SplitFigures(const PageSplit& all, const PageSplit& group);

struct Report {
  std::string title;     // the head's type of a single log, else "N logs"
  std::string headDate;  // the head's date of a single log, else empty
  bool global = false;   // a global log (or several logs) rather than one daily log
  int64_t logs = 0;
  int64_t logsWithoutTotal = 0;
  int64_t recordedTotal = 0;  // the sum of the logs' Total entries
  int64_t jobs = 0;
  int64_t pages = 0;
  int64_t jobCost = 0;  // the sum of the jobs' costs
  PageSplit split;
  std::string firstDate, lastDate;
  std::vector<Subtotal> users, printers;  // largest cost first, then by name
  std::vector<Job> listed;                // the first jobs, in file order
  int64_t unlisted = 0;

  int64_t TotalCost() const { return recordedTotal; }
  // The total recorded in the logs is not what their jobs add up to.
  bool TotalDiffers() const { return recordedTotal != jobCost; }
};

class ReportBuilder {
 public:
  // sink, when given, sees every job in file order (for writers that list
  // them all); listLimit jobs are kept in the report.
  explicit ReportBuilder(std::size_t listLimit = kListedJobs,
                         std::function<void(const Job&)> sink = {});

  // Adds the text of one log file. False when it is no log file (no "<log>"
  // at all); nothing is added then.
  bool AddLog(std::string_view text);
  Report Finish();

 private:
  void AddJob(Job&& job);

  std::size_t listLimit;
  std::function<void(const Job&)> sink;
  Report report;
  std::string singleTitle, singleDate;
  std::map<std::string, Subtotal, std::less<>> users, printers;
};

// "1 234 567": thousands separated by sep.
std::string GroupThousands(int64_t n, std::string_view sep = " ");

}  // namespace pelko::report
