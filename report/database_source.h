// The central database as a source of a report: every server's jobs of a
// range of log dates, read a day at a time into the same report the log
// files give (report.h). Names are UTF-8 as the database gives them.
#pragma once

#include <string>

#include "agent/platform/sql.h"
#include "report/report.h"
#include "report/summary.h"

namespace pelko::report {

// The schema's version; 0 where it cannot be read (a reader without the
// right to read it gets the jobs without their details). The transaction is
// rolled back after.
int SchemaVersion(SqlConnection& connection);

// Hands every job of the log dates from..to (YYYYMMDD, both included; empty
// for no bound) to builder, each with its server. False with *error when
// the database cannot answer; the builder may then hold part of them.
bool ReadDatabaseJobs(SqlConnection& connection, const std::string& from, const std::string& to,
                      ReportBuilder& builder, std::string* error);

// From schema version 4 on the database keeps sums of its rows: the report
// of log dates from..to (YYYYMMDD, either may be empty) read from them and
// from the rows of the partial months at its edges, with the newest jobs
// the builder lists. summary, where given, gets the figures by user and
// printer of the whole span or of each month (never of each day). False
// with *error when the database cannot answer; *kept false, nothing read,
// where it keeps no sums: read the jobs then.
bool ReadDatabaseSums(SqlConnection& connection, const std::string& from, const std::string& to,
                      ReportBuilder& builder, SummaryBuilder* summary, bool* kept,
                      std::string* error);

// The whole report of those dates, its period the one asked for.
bool ReadDatabaseReport(SqlConnection& connection, const std::string& from, const std::string& to,
                        const CostUnit& costUnit, Report* report, std::string* error);

}  // namespace pelko::report
