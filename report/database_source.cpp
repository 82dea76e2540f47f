#include "report/database_source.h"

#include <cstdlib>
#include <string_view>
#include <vector>

namespace pelko::report {

namespace {

// A day's rows at a time, so that no answer holds more than one log date of
// the site. From version 3 on, a row's details are NULL where its entry had
// none: its pages are then not told apart.
constexpr std::string_view kDays =
    "SELECT DISTINCT log_date FROM pelko_jobs WHERE log_date >= ? AND log_date <= ?";
constexpr std::string_view kJobsHead =
    "SELECT job_date, job_time, job_id, user_name, printer, document, pages, cost, server_name";
constexpr std::string_view kDetailColumns =
    ", copies, color_pages, mono_pages, sides, paper, client, color_from";
constexpr std::string_view kJobsTail = " FROM pelko_jobs WHERE log_date = ?";
constexpr int kDetailsVersion = 3;

// The schema's version; 0 where it cannot be read (a reader without the
// right to read it gets the jobs without their details).
int SchemaVersion(SqlConnection& connection) {
  std::vector<SqlRow> rows;
  const bool ok = connection.Execute("SELECT MAX(version) FROM pelko_schema_version", {}, &rows);
  connection.Rollback();
  return ok && !rows.empty() && !rows[0].empty() ? std::atoi(rows[0][0].c_str()) : 0;
}

int32_t Number(const std::string& text) {
  return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

Job JobOfRow(SqlRow& row, bool details) {
  Job job{std::move(row[0]), std::move(row[1]), std::move(row[2]), std::move(row[3]),
          std::move(row[4]), std::move(row[5]), Number(row[6]),    Number(row[7])};
  job.server = std::move(row[8]);
  if (details && !row[10].empty()) {
    job.told = true;
    job.copies = Number(row[9]);
    job.colorPages = Number(row[10]);
    job.monoPages = Number(row[11]);
    job.sides = std::move(row[12]);
    job.paper = std::move(row[13]);
    job.client = std::move(row[14]);
    job.colorFrom = std::move(row[15]);
  }
  return job;
}

}  // namespace

bool ReadDatabaseJobs(SqlConnection& connection, const std::string& from, const std::string& to,
                      ReportBuilder& builder, std::string* error) {
  const bool details = SchemaVersion(connection) >= kDetailsVersion;
  std::vector<SqlRow> days, rows;
  const bool listed = connection.Execute(
      kDays, {SqlParam::Text(from), SqlParam::Text(to.empty() ? "99999999" : to)}, &days);
  std::string query(kJobsHead);
  if (details) query += kDetailColumns;
  query += kJobsTail;
  const std::size_t columns = details ? 16 : 9;
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
  if (!ReadDatabaseJobs(connection, from, to, builder, error)) return false;
  *report = builder.Finish();
  return true;
}

}  // namespace pelko::report
