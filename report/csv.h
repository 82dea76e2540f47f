// Jobs as CSV for spreadsheets: a header line, then one row per job, fields
// quoted as RFC 4180 has it and lines ended by CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/columns.h"
#include "report/report.h"

namespace pelko::report {

// How the cost column is written: a whole number without a unit; with one,
// "13.11" under "cost (EUR)", the decimals after point (a decimal comma
// where spreadsheets take ';' between fields).
struct CsvCost {
  CostUnit unit;
  char point = '.';
};

void AppendCsvHeader(std::string& out, const CsvCost& cost = {});
void AppendCsvRow(std::string& out, const Job& job, const CsvCost& cost = {});

// The subtotals of report by group as rows: a header line (the group's
// field, jobs, pages, cost and the colour figures the report shows), one row
// per group, names as shown (a month "2026/12" as "2026-12").
void AppendSubtotalCsv(std::string& out, const JobGroup& group, const Report& report,
                       const CsvCost& cost = {});

// The rows of a report (kJobColumns): the columns of every job, and the
// details' columns after them once a job has details, empty for the jobs
// without. Rows from logs hold no line break of their own (their texts
// are clean), so the rows written before the first job with details are
// given the empty columns in one pass over them.
class CsvRows {
 public:
  explicit CsvRows(const CsvCost& cost = {}) : cost(cost) { AppendCsvHeader(text, cost); }
  void Add(const Job& job);
  const std::string& Text() const { return text; }
  std::string Take() { return std::move(text); }

 private:
  CsvCost cost;
  std::string text;
  bool details = false;
};

}  // namespace pelko::report
