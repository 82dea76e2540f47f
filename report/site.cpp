#include "report/site.h"

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <set>
#include <utility>

#include "report/columns.h"
#include "report/csv.h"
#include "report/html.h"

namespace pelko::report {

namespace {

bool IsDay(std::string_view day) {
  if (day.size() != 8 || day.find_first_not_of("0123456789") != std::string_view::npos)
    return false;
  const int month = std::atoi(std::string(day.substr(4, 2)).c_str());
  return month >= 1 && month <= 12;
}

int Number(std::string_view digits) { return std::atoi(std::string(digits).c_str()); }

// YYYYMM of months after month (negative: before).
std::string MonthAfter(std::string_view month, int months) {
  const int at = Number(month.substr(0, 4)) * 12 + Number(month.substr(4, 2)) - 1 + months;
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d", at / 12, at % 12 + 1);
  return text;
}

std::string LastDay(std::string_view month) {
  using namespace std::chrono;
  const year_month_day_last last{
      year{Number(month.substr(0, 4))} /
      std::chrono::month{static_cast<unsigned>(Number(month.substr(4, 2)))} / std::chrono::last};
  return std::string(month) + std::to_string(static_cast<unsigned>(last.day()));
}

std::string MonthBase(std::string_view month) {
  return "month-" + std::string(month.substr(0, 4)) + "-" + std::string(month.substr(4, 2));
}
std::string YearBase(std::string_view year) { return "year-" + std::string(year); }

void Link(std::string& out, std::string_view href, std::string_view text) {
  out += "<a href=\"";
  AppendEscaped(out, href);
  out += "\">";
  AppendEscaped(out, text);
  out += "</a>";
}

struct Figures {
  int64_t jobs = 0, pages = 0, cost = 0;
};

}  // namespace

SiteBuilder::SiteBuilder(SiteSettings settings) : settings(std::move(settings)) {
  const std::string& month = this->settings.month;
  firstMonth = MonthAfter(month, -11);
  index = std::make_unique<ReportBuilder>();
  index->Describe(firstMonth + "01", LastDay(month), this->settings.encoding,
                  this->settings.costUnit, this->settings.site);
}

ReportBuilder& SiteBuilder::Of(Builders& builders, const std::string& key, std::string_view from,
                               std::string_view to) {
  auto found = builders.find(key);
  if (found == builders.end()) {
    found = builders.emplace(key, std::make_unique<ReportBuilder>()).first;
    found->second->Describe(from, to, settings.encoding, settings.costUnit, settings.site);
  }
  return *found->second;
}

void SiteBuilder::Add(const Job& job) {
  // A job of no real day (a damaged entry) is in no period's page.
  if (const std::string day = LogDateOf(job.date); IsDay(day)) {
    const std::string month = day.substr(0, 6), year = day.substr(0, 4);
    Of(months, month, month + "01", LastDay(month)).AddJob(job);
    Of(years, year, year + "0101", year + "1231").AddJob(job);
    if (month >= firstMonth && month <= settings.month) index->AddJob(job);
  }
  Of(printers, job.printer, "", "").AddJob(job);
  Of(users, job.user, "", "").AddJob(job);
}

void SiteBuilder::Publish(SitePublisher& publisher) {
  const TextEncoding names = settings.encoding;
  // Each user's and printer's page by its name in UTF-8, whatever the logs'
  // encoding, so that it keeps its name from run to run.
  std::map<std::string, std::string, std::less<>> userFiles, printerFiles;
  auto name = [&](const Builders& builders, std::string_view prefix, auto& files) {
    std::set<std::string> taken;
    for (const auto& [key, builder] : builders) {
      const std::string base = SafeBaseName(prefix, Recoded(key, names, TextEncoding::kUtf8));
      // Two long names of one hash: the later one in order gets a number.
      std::string free = base;
      for (int n = 2; !taken.insert(free).second; ++n) free = base + "_n" + std::to_string(n);
      files[key] = free;
    }
  };
  name(users, "user-", userFiles);
  name(printers, "printer-", printerFiles);
  const RowLink link = [&](std::string_view field, std::string_view row) -> std::string {
    const auto& files = field == "user" ? userFiles : printerFiles;
    if (field == "user" || field == "printer") {
      const auto found = files.find(row);
      return found == files.end() ? "" : found->second + ".html";
    }
    if (field == "month" && row.size() == 7 && row[4] == '/') {
      const std::string month = std::string(row.substr(0, 4)) + std::string(row.substr(5, 2));
      return months.count(month) != 0 ? MonthBase(month) + ".html" : "";
    }
    return "";
  };
  std::string yearLinks;
  for (const auto& [year, builder] : years) {
    yearLinks += ' ';
    Link(yearLinks, YearBase(year) + ".html", year);
  }
  const CsvCost cost{settings.costUnit, DecimalPoint(settings.dialect)};
  const std::string_view more = settings.site ? "pelkoreport --database --csv lists them all."
                                              : "pelkoreport --csv lists them all.";
  // One page and its CSV (the table of its group), in the site's encodings;
  // steps are links of its own in the navigation, top what stands above the
  // report.
  auto put = [&](const std::string& base, const Report& r, std::string_view kind,
                 const std::string& title, const std::string& steps, const std::string& top,
                 const JobGroup& group) {
    std::string page;
    page.reserve(8192 + r.listed.size() * 300);
    AppendHtmlHead(page, "Print report site: " + title, "utf-8");
    page += "<nav class=\"site\"><a href=\"index.html\">Overview</a>" + yearLinks + steps;
    Link(page, base + ".csv", "Table as CSV");
    page += "</nav>\n";
    page += top;
    AppendReportBody(page, r, ReportPart{kind, more, link});
    page += kHtmlEnd;
    publisher.Put(base + ".html", Recoded(std::move(page), names, TextEncoding::kUtf8));
    std::string rows;
    AppendSubtotalCsv(rows, group, r, cost);
    publisher.Put(base + ".csv", InDialect(rows, settings.dialect, /*first=*/true, names));
  };
  auto figures = [](const Report& r) { return Figures{r.jobs, r.pages, r.TotalCost()}; };

  Figures thisMonth, thisYear;
  std::string previous;
  for (auto at = months.begin(); at != months.end(); ++at) {
    const Report r = at->second->Finish();
    at->second.reset();
    if (at->first == settings.month) thisMonth = figures(r);
    std::string steps;
    if (!previous.empty()) {
      steps += "<span>&#8249; ";
      Link(steps, MonthBase(previous) + ".html", ShownMonth(previous));
      steps += "</span>";
    }
    if (const auto next = std::next(at); next != months.end()) {
      steps += "<span>";
      Link(steps, MonthBase(next->first) + ".html", ShownMonth(next->first));
      steps += " &#8250;</span>";
    }
    put(MonthBase(at->first), r, "Month", ShownMonth(at->first), steps, "", kJobGroups[kUsers]);
    previous = at->first;
  }
  for (auto& [year, builder] : years) {
    const Report r = builder->Finish();
    builder.reset();
    if (year == settings.month.substr(0, 4)) thisYear = figures(r);
    put(YearBase(year), r, "Year", year, "", "", kJobGroups[kMonths]);
  }
  // A printer's page tabulates its users, a user's page their months.
  auto named = [&](Builders& builders, auto& files, std::string_view kind, const JobGroup& group) {
    for (auto& [key, builder] : builders) {
      Report r = builder->Finish();
      builder.reset();
      r.title = key.empty() ? "(no name)" : key;
      put(files[key], r, kind, std::string(kind) + " " + r.title, "", "", group);
    }
  };
  named(printers, printerFiles, "Printer", kJobGroups[kUsers]);
  named(users, userFiles, "User", kJobGroups[kMonths]);
  Report r = index->Finish();
  r.title = "The last 12 months";
  // The index's head: the three periods, this month's and the year's with
  // their pages.
  std::string periods =
      "<div class=\"head\"><div class=\"kind\">Print report site</div><h1>Overview</h1></div>\n"
      "<div class=\"periods\"><h2>This month, the last 12 months and the year</h2>\n"
      "<table class=\"subtotals\" id=\"periods\"><thead><tr><th>Period</th><th "
      "class=\"num\">Jobs</th>"
      "<th class=\"num\">Pages</th><th class=\"num\">Cost</th></tr></thead>\n<tbody>\n";
  auto row = [&](std::string_view href, const std::string& text, const Figures& f) {
    periods += "<tr><td>";
    if (href.empty()) {
      AppendEscaped(periods, text);
    } else {
      Link(periods, href, text);
    }
    periods += "</td><td class=\"num\">" + HtmlNumber(f.jobs) + "</td><td class=\"num\">" +
               HtmlNumber(f.pages) + "</td><td class=\"num\">" + HtmlCost(r, f.cost) +
               "</td></tr>\n";
  };
  const std::string year = settings.month.substr(0, 4);
  row(months.count(settings.month) ? MonthBase(settings.month) + ".html" : "",
      "This month: " + ShownMonth(settings.month), thisMonth);
  row("", "The last 12 months: " + ShownMonth(firstMonth) + " to " + ShownMonth(settings.month),
      figures(r));
  row(years.count(year) ? YearBase(year) + ".html" : "", "The year " + year, thisYear);
  periods += "</tbody></table></div>\n";
  put("index", r, "", "Overview", "", periods, kJobGroups[kMonths]);
}

}  // namespace pelko::report
