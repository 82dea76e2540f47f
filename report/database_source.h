// The figures of the central database for a range of dates: totals per
// user, printer, server and month over every server's jobs, summed by the
// database in one pass. The records are the log reader's own Subtotals;
// names are UTF-8 as the database gives them.
#pragma once

#include <string>
#include <vector>

#include "agent/platform/sql.h"
#include "report/report.h"

namespace pelko::report {

struct SiteReport {
  std::string from, to;  // YYYYMMDD, empty for no bound
  Subtotal total;        // every job of the range
  std::vector<Subtotal> users, printers, servers, months;  // largest cost first; months in order
};

// false with *error when the database cannot answer.
bool ReadSiteReport(SqlConnection& connection, const std::string& from, const std::string& to,
                    SiteReport* report, std::string* error);

// The report as an HTML page (UTF-8), as CSV (kind, name, jobs, pages, cost;
// CR LF) and as a plain-text table.
std::string SiteReportHtml(const SiteReport& report);
std::string SiteReportCsv(const SiteReport& report);
std::string SiteReportText(const SiteReport& report);

// pelkoreport --database ...: its own options; the exit status.
int RunDatabaseReport(int argc, char** argv);

}  // namespace pelko::report
