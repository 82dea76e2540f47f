// The report as plain text in columns, for mail readers that show no HTML.
// Lines end in LF; names are the bytes they are (report.encoding).
#pragma once

#include <string>
#include <string_view>

#include "report/report.h"

namespace pelko::report {

// Its first two lines: what the report is and the period it covers, in the
// names' encoding (report.encoding), every control shown.
std::string ReportHeading(const Report& report);
std::string ReportText(const Report& report, std::string_view moreNote = "");

}  // namespace pelko::report
