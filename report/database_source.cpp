#include "report/database_source.h"

#include <algorithm>
#include <cstdlib>

namespace pelko::report {

namespace {

// One scan: the sets are told apart by the one grouped column that is not
// NULL (every column is NOT NULL in the table); the empty set is the total.
constexpr char kTotals[] =
    "SELECT user_name, printer, server_name, SUBSTRING(log_date, 1, 6), COUNT(*), "
    "SUM(CAST(pages AS BIGINT)), SUM(CAST(cost AS BIGINT)) FROM pelko_jobs "
    "WHERE log_date >= ? AND log_date <= ? "
    "GROUP BY GROUPING SETS ((user_name), (printer), (server_name), "
    "(SUBSTRING(log_date, 1, 6)), ())";

int64_t Number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

void SortByCost(std::vector<Subtotal>& list) {
  std::sort(list.begin(), list.end(), [](const Subtotal& a, const Subtotal& b) {
    return a.cost != b.cost ? a.cost > b.cost : a.name < b.name;
  });
}

}  // namespace

bool ReadSiteReport(SqlConnection& connection, const std::string& from, const std::string& to,
                    SiteReport* report, std::string* error) {
  std::vector<SqlRow> rows;
  const bool ok = connection.Execute(
      kTotals, {SqlParam::Text(from), SqlParam::Text(to.empty() ? "99999999" : to)}, &rows);
  connection.Rollback();
  if (!ok) {
    *error = connection.LastError();
    return false;
  }
  report->from = from;
  report->to = to;
  for (const SqlRow& row : rows) {
    if (row.size() != 7) continue;
    Subtotal subtotal{"", Number(row[4]), Number(row[5]), Number(row[6])};
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
