// The site-wide report's three forms.
#include <cstdio>

#include "report/database_source.h"
#include "report/guard.h"
#include "report/html.h"
#include "report/summary.h"

namespace pelko::report {

namespace {

struct Section {
  const char* title;
  const std::vector<Subtotal>* rows;
};

std::vector<Section> Sections(const SiteReport& report) {
  return {{"user", &report.users}, {"printer", &report.printers},
          {"server", &report.servers}, {"month", &report.months}};
}

std::string Range(const SiteReport& report) {
  auto shown = [](const std::string& date) {
    return date.size() == 8 ? date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6)
                            : std::string("...");
  };
  return shown(report.from) + " to " + shown(report.to);
}

// Names are UTF-8 from the database.
std::string Shown(const std::string& name) { return ShownText(name, TextEncoding::kUtf8); }

}  // namespace

std::string SiteReportCsv(const SiteReport& report) {
  std::string out = "kind,name,jobs,pages,cost\r\n";
  auto row = [&](const char* kind, const Subtotal& s) {
    out += kind;
    out += ',';
    AppendCsvCell(out, s.name);
    out += "," + std::to_string(s.jobs) + "," + std::to_string(s.pages) + "," +
           std::to_string(s.cost) + "\r\n";
  };
  for (const Section& section : Sections(report)) {
    for (const Subtotal& s : *section.rows) row(section.title, s);
  }
  row("total", report.total);
  return out;
}

std::string SiteReportText(const SiteReport& report) {
  std::string out = "Pelko site report, " + Range(report) + "\n";
  for (const Section& section : Sections(report)) {
    std::size_t width = 5;
    for (const Subtotal& s : *section.rows) width = std::max(width, DisplayWidth(Shown(s.name)));
    width = std::min<std::size_t>(width, 40);
    auto line = [&](const std::string& name, const std::string& jobs, const std::string& pages,
                    const std::string& cost) {
      out += name + std::string(width > DisplayWidth(name) ? width - DisplayWidth(name) : 0, ' ');
      char figures[96];
      std::snprintf(figures, sizeof figures, "  %10s  %12s  %14s\n", jobs.c_str(), pages.c_str(),
                    cost.c_str());
      out += figures;
    };
    out += "\n";
    line(std::string(1, static_cast<char>(section.title[0] - 32)) + (section.title + 1), "jobs",
         "pages", "cost");
    for (const Subtotal& s : *section.rows) {
      line(Shown(s.name), GroupThousands(s.jobs), GroupThousands(s.pages), GroupThousands(s.cost));
    }
  }
  out += "\nTotal: " + GroupThousands(report.total.jobs) + " jobs, " +
         GroupThousands(report.total.pages) + " pages, cost " + GroupThousands(report.total.cost) +
         "\n";
  return out;
}

std::string SiteReportHtml(const SiteReport& report) {
  std::string out =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Pelko site report</title>"
      "<style>body{font-family:sans-serif}table{border-collapse:collapse;margin-bottom:1em}"
      "td,th{border:1px solid #999;padding:2px 8px}td.n{text-align:right}</style></head><body>\n"
      "<h1>Pelko site report</h1>\n<p>" + Range(report) + ": " +
      GroupThousands(report.total.jobs) + " jobs, " + GroupThousands(report.total.pages) +
      " pages, cost " + GroupThousands(report.total.cost) + "</p>\n";
  for (const Section& section : Sections(report)) {
    out += std::string("<h2>Per ") + section.title + "</h2>\n<table><tr><th>" + section.title +
           "</th><th>jobs</th><th>pages</th><th>cost</th></tr>\n";
    for (const Subtotal& s : *section.rows) {
      out += "<tr><td>";
      // Escaped byte for byte: UTF-8 passes through.
      AppendEscaped(out, s.name);
      out += "</td><td class=n>" + GroupThousands(s.jobs) + "</td><td class=n>" +
             GroupThousands(s.pages) + "</td><td class=n>" + GroupThousands(s.cost) +
             "</td></tr>\n";
    }
    out += "</table>\n";
  }
  return out + "</body></html>\n";
}

}  // namespace pelko::report
