#include "report/database_source.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string_view>
#include <vector>

#include "agent/database/dialect.h"
#include "report/columns.h"

namespace pelko::report {

namespace {

// A day's rows at a time, so that no answer holds more than one log date of
// the site. From version 3 on, a row's details are NULL where its entry had
// none: its pages are then not told apart.
constexpr std::string_view kLogDays =
    "SELECT DISTINCT log_date FROM pelko_jobs WHERE log_date >= ? AND log_date <= ?";
constexpr std::string_view kJobsTail = " FROM pelko_jobs WHERE log_date = ?";
constexpr int kDetailsVersion = 3;
constexpr int kSumsVersion = 4;

// The figures of a group, in the order of kJobFigures and of the sums'
// columns: jobs, pages, cost, colour, mono, untold pages, told jobs.
constexpr std::string_view kSummed =
    "SUM(jobs), SUM(pages), SUM(cost), SUM(color_pages), SUM(mono_pages), SUM(untold_pages), "
    "SUM(told_jobs)";
constexpr std::string_view kSumColumns =
    "jobs, pages, cost, color_pages, mono_pages, untold_pages, told_jobs";

int32_t Number(const std::string& text) {
  return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

// "SELECT" and the columns of kJobColumns, with or without the details.
std::string SelectJobs(bool details) {
  std::string out = "SELECT";
  for (const JobColumn& column : kJobColumns) {
    if (column.IsDetail() && !details) break;
    out += out.size() == 6 ? " " : ", ";
    out += column.sql;
  }
  return out;
}

std::size_t ColumnsOf(bool details) {
  return static_cast<std::size_t>(
      std::count_if(kJobColumns.begin(), kJobColumns.end(),
                    [&](const JobColumn& column) { return details || !column.IsDetail(); }));
}

// The details stand last; a row's are NULL (its colour pages empty) where
// its entry had none.
Job JobOfRow(SqlRow& row, bool details) {
  static const std::size_t colorAt = static_cast<std::size_t>(
      std::find_if(kJobColumns.begin(), kJobColumns.end(),
                   [](const JobColumn& column) { return column.figure == &Job::colorPages; }) -
      kJobColumns.begin());
  Job job;
  job.told = details && !row[colorAt].empty();
  for (std::size_t i = 0; i < kJobColumns.size(); ++i) {
    const JobColumn& column = kJobColumns[i];
    if (column.IsDetail() && !job.told) break;
    if (column.text != nullptr) {
      job.*column.text = std::move(row[i]);
    } else {
      job.*column.figure = Number(row[i]);
    }
  }
  return job;
}

int64_t Big(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

// The figures of a result row from column at on; its name given.
Subtotal FiguresOf(const SqlRow& row, std::size_t at, std::string name) {
  Subtotal figures{std::move(name), Big(row[at]), Big(row[at + 1]), Big(row[at + 2])};
  figures.split = PageSplit{Big(row[at + 3]), Big(row[at + 4]), Big(row[at + 5]), Big(row[at + 6])};
  return figures;
}

// "202612" one month on (step 1) or back (-1).
std::string MonthFrom(const std::string& month, int step) {
  int index =
      std::atoi(month.substr(0, 4).c_str()) * 12 + std::atoi(month.substr(4, 2).c_str()) - 1 + step;
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d", index / 12, index % 12 + 1);
  return text;
}

// Whether log date day (YYYYMMDD) is its month's last.
bool LastOfMonth(const std::string& day) {
  const int year = std::atoi(day.substr(0, 4).c_str());
  const int month = std::atoi(day.substr(4, 2).c_str());
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int last = month == 2 && leap ? 29 : kDays[(month + 11) % 12];
  return std::atoi(day.substr(6, 2).c_str()) == last;
}

// Whether the periods from..to (YYYYMM or YYYYMMDD; "" unbounded) span
// more than half a year.
bool Wide(const std::string& from, const std::string& to) {
  if (from.size() < 6 || to.size() < 6) return true;
  auto months = [](const std::string& period) {
    return std::atoi(period.substr(0, 4).c_str()) * 12 + std::atoi(period.substr(4, 2).c_str());
  };
  return months(to) - months(from) > 6;
}

// The sums of users (name "user_name") or printers over the log dates
// from..to: of the months wholly within from the sums, of the days about
// them from the rows. add gets each group's month ("2026/12", where
// byMonth) and figures.
class GroupReader {
 public:
  GroupReader(SqlConnection& connection, database::Engine engine, bool byMonth)
      : connection(connection), engine(engine), byMonth(byMonth) {}

  bool Read(const std::string& from, const std::string& to, char kind, const std::string& column,
            const std::function<void(const std::string&, Subtotal&&)>& add) {
    // The months wholly within: from the first day of one to the last of
    // another; "" is no bound.
    const std::string first = from.empty()             ? ""
                              : from.substr(6) == "01" ? from.substr(0, 6)
                                                       : MonthFrom(from, 1);
    const std::string last = to.empty()        ? ""
                             : LastOfMonth(to) ? to.substr(0, 6)
                                               : MonthFrom(to, -1);
    if (!first.empty() && !last.empty() && first > last) return Rows(from, to, column, add);
    // By month nearly each sum is a group of its own: the builders merge
    // them as they come, sparing the database a grouping of some 500 000
    // (which MariaDB keeps on disk).
    const std::string where = " FROM " + database::JobSumsFrom(engine, Wide(first, last)) +
                              " WHERE kind = ? AND period >= ? AND period <= ?";
    const std::string query =
        byMonth ? "SELECT job_date, name, " + std::string(kSumColumns) + where + " AND jobs <> 0"
                : "SELECT name, " + std::string(kSummed) + where + " GROUP BY name";
    std::vector<SqlRow> rows;
    if (!connection.Execute(query,
                            {SqlParam::Text(std::string(1, kind)), SqlParam::Text(first),
                             SqlParam::Text(last.empty() ? "999999" : last)},
                            &rows)) {
      return false;
    }
    Hand(rows, add);
    return (first.empty() || from >= first ||
            Rows(from, MonthFrom(first, -1) + "31", column, add)) &&
           (last.empty() || MonthFrom(last, 1) > to || Rows(MonthFrom(last, 1), to, column, add));
  }

 private:
  // The groups of the rows of log dates from..to, told apart byte for byte
  // as the sums are.
  bool Rows(const std::string& from, const std::string& to, const std::string& column,
            const std::function<void(const std::string&, Subtotal&&)>& add) {
    const std::string month(kJobGroups[kMonths].sql);
    std::vector<SqlRow> rows;
    std::string group = database::ExactGroup(engine, column);
    if (byMonth) group = database::ExactGroup(engine, month) + ", " + group;
    if (!connection.Execute(std::string("SELECT ") + (byMonth ? "MIN(" + month + "), " : "") +
                                "MIN(" + column + "), " + database::kJobFigures +
                                " FROM pelko_jobs WHERE log_date >= ? AND log_date <= ? GROUP BY " +
                                group,
                            {SqlParam::Text(from), SqlParam::Text(to)}, &rows)) {
      return false;
    }
    Hand(rows, add);
    return true;
  }

  void Hand(std::vector<SqlRow>& rows,
            const std::function<void(const std::string&, Subtotal&&)>& add) {
    const std::size_t at = byMonth ? 1 : 0;
    for (SqlRow& row : rows) {
      if (row.size() != at + 8 || Big(row[at + 1]) == 0) continue;  // sums of rows written over
      add(byMonth ? row[0] : "", FiguresOf(row, at + 1, std::move(row[at])));
    }
  }

  SqlConnection& connection;
  database::Engine engine;
  bool byMonth;
};

}  // namespace

int SchemaVersion(SqlConnection& connection) {
  std::vector<SqlRow> rows;
  const bool ok = connection.Execute("SELECT MAX(version) FROM pelko_schema_version", {}, &rows);
  connection.Rollback();
  return ok && !rows.empty() && !rows[0].empty() ? std::atoi(rows[0][0].c_str()) : 0;
}

bool ReadDatabaseSums(SqlConnection& connection, const std::string& from, const std::string& to,
                      ReportBuilder& builder, SummaryBuilder* summary, bool* kept,
                      std::string* error) {
  *kept = SchemaVersion(connection) >= kSumsVersion;
  if (!*kept) return true;
  const database::Engine engine = database::EngineOf(connection.ProductName());
  if (const std::string set = database::ReportSession(engine); !set.empty()) {
    connection.Execute(set, {}, nullptr);  // only faster: a login that may not goes on without
  }
  const SqlParam first = SqlParam::Text(from), last = SqlParam::Text(to.empty() ? "99999999" : to);
  const std::string ofDays = " FROM " + database::JobSumsFrom(engine, Wide(from, to)) +
                             " WHERE kind = 'd' AND period >= ? AND period <= ? GROUP BY ";
  const std::string summed(kSummed);
  std::vector<SqlRow> days, servers;
  bool ok = connection.Execute("SELECT period, job_date, " + summed + ofDays + "period, job_date",
                               {first, last}, &days) &&
            connection.Execute("SELECT server_name, " + summed + ofDays + "server_name",
                               {first, last}, &servers);
  // The newest jobs: those of the newest job dates, as many as are listed
  // at least, read whole from their log dates.
  std::vector<std::pair<std::string, std::string>> newest;  // job date, log date
  for (const SqlRow& row : days) {
    if (row.size() != 9 || Big(row[2]) == 0) continue;
    builder.AddDayFigures(row[1], FiguresOf(row, 2, ""));
    if (summary != nullptr) summary->AddAll(row[1], FiguresOf(row, 2, ""));
    newest.emplace_back(row[1], row[0]);
  }
  for (const SqlRow& row : servers) {
    if (row.size() == 8 && Big(row[1]) != 0)
      builder.AddGroupFigures(kServers, FiguresOf(row, 1, row[0]));
  }
  std::sort(newest.rbegin(), newest.rend());
  std::map<std::pair<std::string, std::string>, int64_t> jobsOf;
  for (const SqlRow& row : days) {
    if (row.size() == 9) jobsOf[{row[1], row[0]}] = Big(row[2]);
  }
  int64_t listed = 0;
  std::string cutoff;
  for (const auto& group : newest) {
    if (listed >= static_cast<int64_t>(builder.ListLimit()) && group.first != cutoff) break;
    cutoff = group.first;
    listed += jobsOf[group];
    std::vector<SqlRow> rows;
    ok = ok && connection.Execute(
                   SelectJobs(true) + " FROM pelko_jobs WHERE log_date = ? AND job_date = ?",
                   {SqlParam::Text(group.second), SqlParam::Text(group.first)}, &rows);
    for (SqlRow& row : rows) {
      // A database that compares texts without case gives more.
      if (row.size() == ColumnsOf(true) && row[0] == group.first)
        builder.ListJob(JobOfRow(row, true));
    }
  }
  const bool byMonth = summary != nullptr && summary->Groups() == Grouping::kMonth;
  GroupReader groups(connection, engine, byMonth);
  for (const std::size_t g : kSummaryGroups) {
    const JobGroup& group = kJobGroups[g];
    ok = ok && groups.Read(from, to, group.sumKind, std::string(group.sql),
                           [&](const std::string& month, Subtotal&& figures) {
                             if (summary != nullptr) summary->AddGroup(g, month, figures);
                             builder.AddGroupFigures(g, figures);
                           });
  }
  if (!ok) *error = connection.LastError();
  connection.Rollback();
  return ok;
}

bool ReadDatabaseJobs(SqlConnection& connection, const std::string& from, const std::string& to,
                      ReportBuilder& builder, std::string* error) {
  const bool details = SchemaVersion(connection) >= kDetailsVersion;
  std::vector<SqlRow> days, rows;
  const bool listed = connection.Execute(
      kLogDays, {SqlParam::Text(from), SqlParam::Text(to.empty() ? "99999999" : to)}, &days);
  const std::string query = SelectJobs(details) + std::string(kJobsTail);
  const std::size_t columns = ColumnsOf(details);
  bool ok = listed;
  for (std::size_t i = 0; ok && i < days.size(); ++i) {
    if (days[i].empty()) continue;
    rows.clear();
    ok = connection.Execute(query, {SqlParam::Text(days[i][0])}, &rows);
    for (SqlRow& row : rows) {
      if (row.size() == columns) builder.AddJob(JobOfRow(row, details));
    }
  }
  if (!ok) *error = connection.LastError();
  connection.Rollback();
  return ok;
}

bool ReadDatabaseReport(SqlConnection& connection, const std::string& from, const std::string& to,
                        const CostUnit& costUnit, Report* report, std::string* error) {
  ReportBuilder builder;
  builder.Describe(from, to, TextEncoding::kUtf8, costUnit, /*site=*/true);
  bool kept = false;
  if (!ReadDatabaseSums(connection, from, to, builder, nullptr, &kept, error)) return false;
  if (!kept && !ReadDatabaseJobs(connection, from, to, builder, error)) return false;
  *report = builder.Finish();
  return true;
}

}  // namespace pelko::report
