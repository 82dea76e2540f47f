#include "report/html.h"

#include "agent/util/unicode.h"
#include "report/columns.h"
#include "report/svg_chart.h"

namespace pelko::report {

namespace {

constexpr std::string_view kStyle = R"(html { color: #1b1f24; background: #fff; }
body { font: 14px/1.4 "Segoe UI", "DejaVu Sans", Helvetica, Arial, sans-serif; margin: 24px 32px; }
.head { border-bottom: 3px solid #1b4f8a; padding-bottom: 10px; margin-bottom: 16px; }
.kind { text-transform: uppercase; letter-spacing: .08em; font-size: 12px; color: #5a6470; }
h1 { font-size: 26px; margin: 2px 0; overflow-wrap: anywhere; }
.when { font-size: 15px; color: #333; }
.cards { display: flex; flex-wrap: wrap; gap: 12px; margin: 0 0 18px; }
.card { display: inline-block; border: 1px solid #c9d1da; border-radius: 4px; padding: 6px 14px; min-width: 90px; }
.card .label { font-size: 12px; color: #5a6470; }
.card .value { font-size: 20px; font-weight: 600; text-align: right; }
.card.total { border: 2px solid #1b4f8a; }
.card.total .value { font-size: 26px; color: #1b4f8a; }
.note { font-size: 12px; color: #5a6470; margin: 2px 0 0; }
h2 { font-size: 16px; margin: 18px 0 6px; }
.groups { display: flex; flex-wrap: wrap; gap: 12px 32px; align-items: flex-start; }
.group, .list { max-width: 100%; overflow-x: auto; }
.chart { margin: 0 0 10px; }
.chart svg { display: block; width: 480px; max-width: 100%; overflow: hidden; }
table { border-collapse: collapse; }
th, td { padding: 3px 10px; border-bottom: 1px solid #dde3ea; vertical-align: top; text-align: left; }
thead th { border-bottom: 2px solid #1b4f8a; font-size: 12px; text-transform: uppercase; letter-spacing: .05em; color: #333; }
tbody tr:nth-child(even) { background: #f4f6f9; }
tfoot td { border-top: 2px solid #1b4f8a; border-bottom: 0; font-weight: 600; }
.num { text-align: right; white-space: nowrap; }
td.stamp { white-space: nowrap; }
.doc { overflow-wrap: anywhere; }
table.jobs { width: 100%; }
.none { color: #8a939c; font-style: italic; }
.empty { font-size: 16px; color: #5a6470; padding: 12px 0; }
.more { color: #5a6470; font-style: italic; }
a { color: #1b4f8a; }
.periods { margin: 0 0 28px; }
nav.site { display: flex; flex-wrap: wrap; gap: 4px 14px; margin: 0 0 12px; font-size: 13px; }
@media (max-width: 480px) { body { margin: 12px; } }
@media print {
  body { margin: 0; font-size: 11pt; }
  nav.site { display: none; }
  tbody tr:nth-child(even) { background: none; }
  .groups { display: block; }
  .list { overflow: visible; }
  .group { margin-bottom: 12pt; }
  .chart { break-inside: avoid; page-break-inside: avoid; }
  .chart svg { width: 16cm; -webkit-print-color-adjust: exact; print-color-adjust: exact; }
  h2 { break-after: avoid; page-break-after: avoid; }
  thead { display: table-header-group; }
  tr { break-inside: avoid; page-break-inside: avoid; }
  .subtotals td:first-child { overflow-wrap: anywhere; }
}
)";

std::string Num(int64_t n) { return HtmlNumber(n); }
std::string Money(const Report& r, int64_t cost) { return HtmlCost(r, cost); }

void Name(std::string& out, std::string_view text) {
  if (text.empty()) {
    out += "<span class=\"none\">(none)</span>";
  } else {
    AppendEscaped(out, text);
  }
}

std::string HeadLine(const Report& r) {
  std::string out;
  Name(out, Headline(r));
  return out;
}

void Card(std::string& out, std::string_view id, std::string_view label, const std::string& value,
          bool total = false) {
  out += total ? "<div class=\"card total\">" : "<div class=\"card\">";
  out += "<div class=\"label\">";
  out += label;
  out += "</div><div class=\"value\" id=\"";
  out += id;
  out += "\">";
  out += value;
  out += "</div></div>\n";
}

void Heading(std::string& out, const Report& r, std::string_view kind) {
  out += "<div class=\"head\"><div class=\"kind\">";
  if (!kind.empty()) {
    AppendEscaped(out, kind);
  } else {
    out += r.site     ? "Site print report, all servers"
           : r.global ? "Print report, all printers"
                      : "Daily print log";
  }
  out += "</div>\n<h1 id=\"printer\">";
  out += HeadLine(r);
  out += "</h1>\n<div class=\"when\" id=\"date\">";
  AppendEscaped(out, WhenLine(r));
  out += "</div></div>\n";
}

void Summary(std::string& out, const Report& r) {
  out += "<div class=\"cards\">\n";
  Card(out, "total", "Total cost", Money(r, r.TotalCost()), true);
  Card(out, "pages", "Pages", Num(r.pages));
  for (const PageFigure& f : SplitFigures(r.split, r.split)) {
    Card(out, std::string(f.key) + "-pages", f.label, Num(f.value));
  }
  Card(out, "jobs", "Jobs", Num(r.jobs));
  Card(out, "users", "Users", Num(static_cast<int64_t>(r.users.size())));
  if (r.global) Card(out, "printers", "Printers", Num(static_cast<int64_t>(r.printers.size())));
  if (r.site) Card(out, "servers", "Servers", Num(static_cast<int64_t>(r.servers.size())));
  out += "</div>\n";
  if (r.logsWithoutTotal > 0 && r.logsWithoutTotal == r.logs) {
    out +=
        "<p class=\"note\" id=\"no-total-entry\">The log holds no total; the total shown is "
        "the sum of the jobs listed.</p>\n";
  } else if (r.TotalDiffers()) {
    out +=
        "<p class=\"note\" id=\"job-sum\">The total is the one recorded in the log. The costs "
        "of the jobs add up to ";
    out += Money(r, r.jobCost);
    out += ".</p>\n";
  }
}

void FigureHeads(std::string& out, const Report& r) {
  for (const PageFigure& f : SplitFigures(r.split, r.split)) {
    out += "<th class=\"num\">";
    out += f.label;
    out += "</th>";
  }
}

void FigureCells(std::string& out, const Report& r, const PageSplit& split) {
  for (const PageFigure& f : SplitFigures(r.split, split)) {
    out += "<td class=\"num\">" + Num(f.value) + "</td>";
  }
}

// A group's table, after its chart where it has one.
void Subtotals(std::string& out, const Report& r, const JobGroup& group,
               std::string_view chart = "", const RowLink& link = {}) {
  out += "<div class=\"group\"><h2>";
  out += group.title;
  out += "</h2>\n";
  out += chart;
  out += "<table class=\"subtotals\" id=\"by-";
  out += group.field;
  out += "\"><thead><tr><th>";
  out += group.header;
  out += "</th><th class=\"num\">Jobs</th><th class=\"num\">Pages</th><th class=\"num\">Cost</th>";
  FigureHeads(out, r);
  out += "</tr></thead>\n<tbody>\n";
  for (const Subtotal& s : r.*group.groups) {
    out += "<tr><td>";
    const std::string href = link ? link(group.field, s.name) : std::string();
    if (!href.empty()) {
      out += "<a href=\"";
      AppendEscaped(out, href);
      out += "\">";
    }
    switch (group.name) {
      case GroupName::kMonth:
        AppendEscaped(out, ShownMonth(s.name));
        break;
      case GroupName::kDay:
        AppendEscaped(out, ShownDate(s.name));
        break;
      case GroupName::kName:
        Name(out, s.name);
        break;
    }
    if (!href.empty()) out += "</a>";
    out += "</td><td class=\"num\">" + Num(s.jobs) + "</td><td class=\"num\">" + Num(s.pages) +
           "</td><td class=\"num\">" + Money(r, s.cost) + "</td>";
    FigureCells(out, r, s.split);
    out += "</tr>\n";
  }
  out += "</tbody>\n<tfoot><tr><td>";
  out += group.all;
  out += "</td><td class=\"num\">" + Num(r.jobs) + "</td><td class=\"num\">" + Num(r.pages) +
         "</td><td class=\"num\">" + Money(r, r.jobCost) + "</td>";
  FigureCells(out, r, r.split);
  out += "</tr></tfoot></table></div>\n";
}

// The colour chart's table: the pages of each kind and their share.
void Colours(std::string& out, const Report& r, const std::string& chart) {
  if (chart.empty()) return;
  out += "<div class=\"group\"><h2>Colour and mono</h2>\n";
  out += chart;
  out +=
      "<table class=\"subtotals\" id=\"by-colour\"><thead><tr><th>Pages</th><th "
      "class=\"num\">Pages</th>"
      "<th class=\"num\">Share</th></tr></thead>\n<tbody>\n";
  const std::vector<PageFigure> figures = SplitFigures(r.split, r.split);
  int64_t all = 0;
  for (const PageFigure& f : figures) all += f.value;
  for (const PageFigure& f : figures) {
    out += "<tr><td>";
    out += f.label;
    out += "</td><td class=\"num\">" + Num(f.value) + "</td><td class=\"num\">" +
           ShareText(f.value, all) + "</td></tr>\n";
  }
  out += "</tbody>\n<tfoot><tr><td>All pages</td><td class=\"num\">" + Num(all) +
         "</td><td class=\"num\">100%</td></tr></tfoot></table></div>\n";
}

// A job's cell of the list; a detail of a job without details is empty.
void JobCell(std::string& out, const Report& r, const JobColumn& column, const Job& job) {
  if (column.IsDetail() && !job.told) {
    out += "<td></td>";
    return;
  }
  out += "<td";
  if (!column.htmlClass.empty()) {
    out += " class=\"";
    out += column.htmlClass;
    out += '"';
  }
  out += '>';
  switch (column.kind) {
    case CellKind::kName:
      Name(out, job.*column.text);
      break;
    case CellKind::kStamp:
    case CellKind::kText:
      AppendEscaped(out, job.*column.text);
      break;
    case CellKind::kCount:
      out += Num(job.*column.figure);
      break;
    case CellKind::kCost:
      out += Money(r, job.*column.figure);
      break;
  }
  out += "</td>";
}

void Jobs(std::string& out, const Report& r, std::string_view moreNote) {
  // The list scrolls in its own box on a narrow screen, so the page does not.
  out +=
      "<h2>Jobs, newest first</h2>\n<div class=\"list\"><table class=\"jobs\" "
      "id=\"job-list\"><thead><tr>";
  // A job's own colour and mono pages, where any job tells them.
  const bool split = r.split.toldJobs > 0;
  std::vector<const JobColumn*> columns;
  for (const JobColumn& column : kJobColumns) {
    if (column.label.empty() || (column.IsDetail() && !split)) continue;
    columns.push_back(&column);
    out += column.figure != nullptr ? "<th class=\"num\">" : "<th>";
    out += column.label;
    out += "</th>";
  }
  out += "</tr></thead>\n<tbody>\n";
  for (const Job& job : r.listed) {
    out += "<tr>";
    for (const JobColumn* column : columns) JobCell(out, r, *column, job);
    out += "</tr>\n";
  }
  out += "</tbody></table></div>\n";
  if (r.unlisted > 0) {
    out += "<p class=\"more\" id=\"more\">and " + Num(r.unlisted) + " more jobs.";
    if (!moreNote.empty()) {
      out += ' ';
      AppendEscaped(out, moreNote);
    }
    out += "</p>\n";
  }
}

std::string Page(const Report& r, std::string_view moreNote, std::string_view charset) {
  std::string out;
  out.reserve(4096 + r.listed.size() * 300);
  std::string title = r.site ? "Site print report: " : "Print report: ";
  title += Headline(r);
  if (!r.headDate.empty()) title += ", " + r.headDate;
  AppendHtmlHead(out, title, charset);
  AppendReportBody(out, r, ReportPart{{}, moreNote, {}});
  out += kHtmlEnd;
  return out;
}

}  // namespace

void AppendHtmlHead(std::string& out, std::string_view title, std::string_view charset) {
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head>\n<meta http-equiv=\"Content-Type\" "
      "content=\"text/html; charset=";
  out += charset;
  out += "\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  AppendEscaped(out, title);
  out += "</title>\n<style>\n";
  out += kStyle;
  out += "</style></head>\n<body>\n";
}

void AppendReportBody(std::string& out, const Report& r, const ReportPart& part) {
  Heading(out, r, part.kind);
  Summary(out, r);
  if (r.jobs > 0) {
    out += "<div class=\"groups\">\n";
    for (const std::size_t g : {kUsers, kPrinters}) {
      Subtotals(out, r, kJobGroups[g], GroupChart(r, kJobGroups[g]), part.link);
    }
    if (r.site) Subtotals(out, r, kJobGroups[kServers]);
    // The days' table is the text of their chart: neither for a single day.
    if (const std::string days = DayChart(r); !days.empty())
      Subtotals(out, r, kJobGroups[kDays], days);
    if (r.months.size() > 1) Subtotals(out, r, kJobGroups[kMonths], MonthChart(r), part.link);
    Colours(out, r, SplitChart(r));
    out += "</div>\n";
    Jobs(out, r, part.moreNote);
  } else {
    out += "<p class=\"empty\" id=\"no-jobs\">No jobs</p>\n";
  }
}

std::string ReportHtml(const Report& r, std::string_view moreNote) {
  return ReportHtmlIn(r, TextEncoding::kWindows1252, moreNote);
}

std::string ReportHtmlUtf8(const Report& r, std::string_view moreNote) {
  return ReportHtmlIn(r, TextEncoding::kUtf8, moreNote);
}

std::string ReportHtmlIn(const Report& r, TextEncoding encoding, std::string_view moreNote) {
  // Everything but the names is ASCII, the same in both.
  const bool utf8 = encoding == TextEncoding::kUtf8;
  return Recoded(Page(r, moreNote, utf8 ? "utf-8" : kReportCharset), r.encoding, encoding);
}

}  // namespace pelko::report
