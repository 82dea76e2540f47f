#include "agent/database/job_sums.h"

#include <cstdio>
#include <cstdlib>

#include "agent/database/column_widths.h"
#include "agent/database/row_batch.h"

namespace pelko::database {

namespace {

// The values of a sum row, in the order of kJobSumColumns.
constexpr ValueType kSumTypes[kJobSumParams] = {
    ValueType::kText,   ValueType::kText,   ValueType::kText,   ValueType::kText,
    ValueType::kText,   ValueType::kNumber, ValueType::kNumber, ValueType::kNumber,
    ValueType::kNumber, ValueType::kNumber, ValueType::kNumber, ValueType::kNumber};

bool Digits(const std::string& text, std::size_t count) {
  return text.size() >= count && text.find_first_not_of("0123456789") >= count;
}

// "202612" -> "202701".
std::string NextMonth(const std::string& month) {
  int year = std::atoi(month.substr(0, 4).c_str());
  int number = std::atoi(month.substr(4, 2).c_str()) + 1;
  if (number > 12) {
    number = 1;
    ++year;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d", year, number);
  return text;
}

// The sums of one kind of the rows whose log dates the statement's two
// parameters bound, as a source of AddToJobSums.
std::string SumsOfRows(Engine engine, char kind) {
  const std::string period = kind == kSumOfDay ? "log_date" : "SUBSTRING(log_date, 1, 6)";
  const std::string jobDate = kind == kSumOfDay ? "job_date" : "SUBSTRING(job_date, 1, 7)";
  const std::string name = kind == kSumOfUser      ? "user_name"
                           : kind == kSumOfPrinter ? "printer"
                                                   : "''";
  std::string group =
      ExactGroup(engine, "server_name") + ", " + period + ", " + ExactGroup(engine, jobDate);
  if (kind != kSumOfDay) group += ", " + ExactGroup(engine, name);
  return "SELECT MIN(server_name), '" + std::string(1, kind) + "', " + period + ", MIN(" + jobDate +
         "), " + (kind == kSumOfDay ? name : "MIN(" + name + ")") + ", " + kJobFigures +
         " FROM pelko_jobs WHERE log_date >= ? AND log_date < ? GROUP BY " + group;
}

}  // namespace

JobShare ShareOf(const JobRow& row) {
  return JobShare{row.printer, row.user,       row.date,     row.pages,
                  row.cost,    row.colorPages, row.monoPages};
}

void JobSums::Add(const std::string& logDate, const JobShare& share, int sign) {
  // As a report counts a job: pages not told apart where the entry holds no
  // colour pages, never as mono.
  const bool told = share.colorPages.has_value();
  const int64_t figures[7] = {1,
                              share.pages,
                              share.cost,
                              told ? *share.colorPages : 0,
                              told ? share.monoPages.value_or(0) : 0,
                              told ? 0 : share.pages,
                              told ? 1 : 0};
  const std::string month = logDate.substr(0, 6);
  const std::string jobMonth = share.jobDate.substr(0, 7);
  for (const auto& key : {std::make_tuple(kSumOfDay, logDate, share.jobDate, std::string()),
                          std::make_tuple(kSumOfUser, month, jobMonth, share.user),
                          std::make_tuple(kSumOfPrinter, month, jobMonth, share.printer)}) {
    Figures& sum = changes[key];
    for (int i = 0; i < 7; ++i) sum.values[i] += sign * figures[i];
  }
}

bool JobSums::Write(const std::function<bool(std::string_view, const std::vector<SqlParam>&)>& run,
                    Engine engine, const std::string& server) const {
  RowBatch batch(engine, kSumTypes, [&](const std::string& source, const auto& params) {
    return run(AddToJobSums(engine, source), params);
  });
  for (const auto& [key, figures] : changes) {
    bool any = false;
    for (int64_t value : figures.values) any = any || value != 0;
    if (!any) continue;  // a row written over as it was adds nothing
    std::vector<SqlParam> values = {
        SqlParam::Text(server), SqlParam::Text(std::string(1, std::get<0>(key))),
        SqlParam::Text(std::get<1>(key)), SqlParam::Text(std::get<2>(key)),
        SqlParam::Text(std::get<3>(key))};
    for (int64_t value : figures.values) values.push_back(SqlParam::Number(value));
    if (!batch.Add(values)) return false;
  }
  return batch.Finish();
}

std::vector<std::string> JobSumsTable(Engine engine) {
  std::string figures;
  for (const char* column :
       {"jobs", "pages", "cost", "color_pages", "mono_pages", "untold_pages", "told_jobs"}) {
    figures += std::string(", ") + column + " BIGINT NOT NULL";
  }
  return {
      "CREATE TABLE " + IfNotExists(engine) + "pelko_job_sums (server_name " +
          ExactTextType(engine, kServerChars) +
          " NOT NULL, kind CHAR(1) NOT NULL, period VARCHAR(8) NOT NULL, job_date " +
          ExactTextType(engine, 10) + " NOT NULL, name " + ExactTextType(engine, kNameChars) +
          " NOT NULL" + figures + ", PRIMARY KEY (server_name, kind, period, job_date, name))",
      // A report reads one kind over a range of periods, every server's.
      "CREATE INDEX " + IfNotExists(engine) +
          "pelko_job_sums_by_period ON pelko_job_sums (kind, period)",
  };
}

bool FillJobSums(SqlConnection& connection, Engine engine) {
  std::vector<SqlRow> bounds;
  if (!connection.Execute("SELECT MIN(log_date), MAX(log_date) FROM pelko_jobs", {}, &bounds))
    return false;
  if (bounds.empty() || bounds[0].size() != 2 || bounds[0][0].empty()) return true;  // no rows
  // Months from the first log date's to the last's: together they take
  // every log date between, as texts compare.
  std::vector<std::pair<std::string, std::string>> spans;
  const std::string first = bounds[0][0], last = bounds[0][1];
  if (Digits(first, 6) && Digits(last, 6)) {
    for (std::string month = first.substr(0, 6); month <= last.substr(0, 6);
         month = NextMonth(month)) {
      spans.emplace_back(month, NextMonth(month));
    }
  } else {
    spans.emplace_back(first, last + "~");  // a log date of no month: all at once
  }
  for (const auto& [from, before] : spans) {
    for (char kind : {kSumOfDay, kSumOfUser, kSumOfPrinter}) {
      if (!connection.Execute(AddToJobSums(engine, SumsOfRows(engine, kind)),
                              {SqlParam::Text(from), SqlParam::Text(before)}, nullptr)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace pelko::database
