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
};

struct Subtotal {
  std::string name;
  int64_t jobs = 0;
  int64_t pages = 0;
  int64_t cost = 0;
};

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
