// The report as one self-contained HTML page: no script, nothing loaded
// from elsewhere. Names go out as the Windows ANSI bytes they are, so the
// page declares windows-1252; or the whole page in UTF-8, declared so.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "report/html_text.h"
#include "report/report.h"

namespace pelko::report {

inline constexpr std::string_view kReportCharset = "windows-1252";

// moreNote follows the job list when jobs were left out of it, for example
// "The attached log lists them all."
std::string ReportHtml(const Report& report, std::string_view moreNote = "");
std::string ReportHtmlUtf8(const Report& report, std::string_view moreNote = "");
// The page in encoding, whatever the names' own (report.encoding).
std::string ReportHtmlIn(const Report& report, TextEncoding encoding,
                         std::string_view moreNote = "");

// A page made of parts (the report site's): the head with the page's style,
// then a report's body (its heading, figures, charts, tables and newest
// jobs), and the end. title is text, escaped here.
void AppendHtmlHead(std::string& out, std::string_view title, std::string_view charset);
// Where a row of a table leads (the page of a user, printer or month: field
// "user", "printer", "month" and the row's name); empty for nowhere.
using RowLink = std::function<std::string(std::string_view field, std::string_view name)>;
struct ReportPart {
  std::string_view kind;  // the line above the heading; empty for the report's own
  std::string_view moreNote;
  RowLink link;
};
void AppendReportBody(std::string& out, const Report& report, const ReportPart& part);
inline constexpr std::string_view kHtmlEnd = "</body></html>\n";

}  // namespace pelko::report
