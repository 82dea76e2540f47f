#include "report/database_source.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace pelko::report {

namespace {

// One scan: the sets are told apart by the one grouped column that is not
// NULL (every grouped column is NOT NULL in the table); the empty set is the
// total. From version 3 on, a row's colour and mono pages are NULL where its
// entry had no details: those rows' pages are the ones not told apart.
constexpr std::string_view kTotalsHead =
    "SELECT user_name, printer, server_name, SUBSTRING(log_date, 1, 6), COUNT(*), "
    "SUM(CAST(pages AS BIGINT)), SUM(CAST(cost AS BIGINT))";
constexpr std::string_view kSplitColumns =
    ", SUM(CAST(color_pages AS BIGINT)), SUM(CAST(mono_pages AS BIGINT)), COUNT(color_pages), "
    "SUM(CASE WHEN color_pages IS NULL THEN CAST(pages AS BIGINT) ELSE 0 END)";
constexpr std::string_view kTotalsTail =
    " FROM pelko_jobs WHERE log_date >= ? AND log_date <= ? "
    "GROUP BY GROUPING SETS ((user_name), (printer), (server_name), "
    "(SUBSTRING(log_date, 1, 6)), ())";
constexpr int kSplitVersion = 3;

// The schema's version; 0 where it cannot be read (a reader without the
// right to read it gets the figures of old, without colour).
int SchemaVersion(SqlConnection& connection) {
  std::vector<SqlRow> rows;
  const bool ok = connection.Execute("SELECT MAX(version) FROM pelko_schema_version", {}, &rows);
  connection.Rollback();
  return ok && !rows.empty() && !rows[0].empty() ? std::atoi(rows[0][0].c_str()) : 0;
}

int64_t Number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

void SortByCost(std::vector<Subtotal>& list) {
  std::sort(list.begin(), list.end(), [](const Subtotal& a, const Subtotal& b) {
    return a.cost != b.cost ? a.cost > b.cost : a.name < b.name;
  });
}

}  // namespace

bool ReadSiteReport(SqlConnection& connection, const std::string& from, const std::string& to,
                    SiteReport* report, std::string* error) {
  const bool split = SchemaVersion(connection) >= kSplitVersion;
  std::string query(kTotalsHead);
  if (split) query += kSplitColumns;
  query += kTotalsTail;
  const std::size_t columns = split ? 11 : 7;
  std::vector<SqlRow> rows;
  const bool ok = connection.Execute(
      query, {SqlParam::Text(from), SqlParam::Text(to.empty() ? "99999999" : to)}, &rows);
  connection.Rollback();
  if (!ok) {
    *error = connection.LastError();
    return false;
  }
  report->from = from;
  report->to = to;
  for (const SqlRow& row : rows) {
    if (row.size() != columns) continue;
    Subtotal subtotal{"", Number(row[4]), Number(row[5]), Number(row[6])};
    if (split) subtotal.split = {Number(row[7]), Number(row[8]), Number(row[10]), Number(row[9])};
    std::vector<Subtotal>* list = nullptr;
    for (int column = 0; column < 4 && list == nullptr; ++column) {
      if (row[column].empty()) continue;
      subtotal.name = row[column];
      list = column == 0   ? &report->users
             : column == 1 ? &report->printers
             : column == 2 ? &report->servers
                           : &report->months;
    }
    // The NULLs of the total read as empty texts, as would an empty name:
    // the total is the row with the most jobs of those.
    if (list == nullptr) {
      if (subtotal.jobs >= report->total.jobs) report->total = subtotal;
      continue;
    }
    list->push_back(std::move(subtotal));
  }
  SortByCost(report->users);
  SortByCost(report->printers);
  SortByCost(report->servers);
  std::sort(report->months.begin(), report->months.end(),
            [](const Subtotal& a, const Subtotal& b) { return a.name < b.name; });
  return true;
}

}  // namespace pelko::report
