// Text as the HTML report and its charts write it: escaped, and figures
// with their thousands apart.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "report/report.h"

namespace pelko::report {

// text with & < > " ' as character references and control bytes dropped.
void AppendEscaped(std::string& out, std::string_view text);

// A count and a cost as every table and chart of the page shows them, the
// thousands apart by a narrow no-break space.
std::string HtmlNumber(int64_t n);
std::string HtmlCost(const Report& report, int64_t cost);

}  // namespace pelko::report
