// The sums of the job rows that a report reads in place of the rows
// (pelko_job_sums): of each server, the figures of each log date by job
// date, and of each log month by job month and user, and by job month and
// printer. The agent changes them in the transaction that writes the rows
// they sum, by what it adds and what it writes over: a report of ten
// million rows reads some ten thousand sums and the rows of at most two
// partial months.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "agent/database/dialect.h"
#include "agent/database/job_rows.h"
#include "agent/platform/sql.h"

namespace pelko::database {

// The kinds of sums, as the column kind holds them.
inline constexpr char kSumOfDay = 'd';  // period: log date; job_date: the job's date; name: ""
inline constexpr char kSumOfUser =
    'u';  // period: log month YYYYMM; job_date: "YYYY/MM"; name: user
inline constexpr char kSumOfPrinter = 'p';  // as kSumOfUser, name: printer

// What one job row adds to its sums.
struct JobShare {
  std::string printer, user, jobDate;
  int64_t pages = 0, cost = 0;
  std::optional<int64_t> colorPages, monoPages;  // none: the pages are not told apart
};
JobShare ShareOf(const JobRow& row);

class JobSums {
 public:
  // sign 1: the row is added; -1: it is written over (its share as the
  // database held it).
  void Add(const std::string& logDate, const JobShare& share, int sign);
  // The changes added to server's sums, as few statements as the engine
  // takes (row_batch.h); run sends one statement.
  bool Write(const std::function<bool(std::string_view, const std::vector<SqlParam>&)>& run,
             Engine engine, const std::string& server) const;

 private:
  struct Figures {
    int64_t values[7] = {};  // jobs, pages, cost, colour, mono, untold, told jobs
  };
  std::map<std::tuple<char, std::string, std::string, std::string>, Figures> changes;
};

// pelko_job_sums and its index on what a report asks for.
std::vector<std::string> JobSumsTable(Engine engine);
// The sums of every row pelko_jobs holds, into an empty pelko_job_sums: a
// month of log dates a statement, so that none outlasts the bound on a
// statement.
bool FillJobSums(SqlConnection& connection, Engine engine);

}  // namespace pelko::database
