// Jobs as CSV for spreadsheets: a header line, then one row per job, fields
// quoted as RFC 4180 has it and lines ended by CR LF.
#pragma once

#include <string>

#include "report/report.h"

namespace pelko::report {

void AppendCsvHeader(std::string& out);
void AppendCsvRow(std::string& out, const Job& job);

}  // namespace pelko::report
