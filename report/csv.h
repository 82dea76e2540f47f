// Jobs as CSV for spreadsheets: a header line, then one row per job, fields
// quoted as RFC 4180 has it and lines ended by CR LF.
#pragma once

#include <string>

#include "report/report.h"

namespace pelko::report {

void AppendCsvHeader(std::string& out);
void AppendCsvRow(std::string& out, const Job& job);

// The rows of a report: the columns of old, and the details' columns
// (copies ... colorfrom) after them once a job has details, empty for the
// jobs without. Rows from logs hold no line break of their own (their texts
// are clean), so the rows written before the first job with details are
// given the empty columns in one pass over them.
class CsvRows {
 public:
  CsvRows() { AppendCsvHeader(text); }
  void Add(const Job& job);
  const std::string& Text() const { return text; }

 private:
  std::string text;
  bool details = false;
};

}  // namespace pelko::report
