// The report as plain text in columns, for mail readers that show no HTML.
// Lines end in LF; names are the Windows ANSI bytes they are.
#pragma once

#include <string>
#include <string_view>

#include "report/report.h"

namespace pelko::report {

std::string ReportText(const Report& report, std::string_view moreNote = "");

}  // namespace pelko::report
