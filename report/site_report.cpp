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

// "colour", "mono", "not told apart": the label within a sentence.
std::string Word(const PageFigure& figure) {
  std::string word(figure.label);
  word[0] = static_cast<char>(word[0] - 'A' + 'a');
  return word;
}

// " (2 colour, 8 mono, 3 not told apart)" after the pages of the total.
std::string SplitSentence(const PageSplit& split) {
  std::string out;
  for (const PageFigure& f : SplitFigures(split, split)) {
    out += (out.empty() ? " (" : ", ") + GroupThousands(f.value) + " " + Word(f);
  }
  return out.empty() ? out : out + ")";
}

}  // namespace

std::string SiteReportCsv(const SiteReport& report) {
  std::string out = "kind,name,jobs,pages,cost";
  for (const PageFigure& f : SplitFigures(report.total.split, report.total.split)) {
    out += ',' + std::string(f.key) + "pages";
  }
  out += "\r\n";
  auto row = [&](const char* kind, const Subtotal& s) {
    out += kind;
    out += ',';
    AppendCsvCell(out, s.name);
    out += "," + std::to_string(s.jobs) + "," + std::to_string(s.pages) + "," +
           std::to_string(s.cost);
    for (const PageFigure& f : SplitFigures(report.total.split, s.split)) {
      out += ',' + std::to_string(f.value);
    }
    out += "\r\n";
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
                    const std::string& cost, const std::vector<std::string>& split) {
      out += name + std::string(width > DisplayWidth(name) ? width - DisplayWidth(name) : 0, ' ');
      char figures[96];
      std::snprintf(figures, sizeof figures, "  %10s  %12s  %14s", jobs.c_str(), pages.c_str(),
                    cost.c_str());
      out += figures;
      for (const std::string& figure : split) {
        std::snprintf(figures, sizeof figures, "  %14s", figure.c_str());
        out += figures;
      }
      out += "\n";
    };
    std::vector<std::string> heads;
    for (const PageFigure& f : SplitFigures(report.total.split, report.total.split)) {
      heads.push_back(Word(f));
    }
    out += "\n";
    line(std::string(1, static_cast<char>(section.title[0] - 32)) + (section.title + 1), "jobs",
         "pages", "cost", heads);
    for (const Subtotal& s : *section.rows) {
      std::vector<std::string> split;
      for (const PageFigure& f : SplitFigures(report.total.split, s.split)) {
        split.push_back(GroupThousands(f.value));
      }
      line(Shown(s.name), GroupThousands(s.jobs), GroupThousands(s.pages), GroupThousands(s.cost),
           split);
    }
  }
  out += "\nTotal: " + GroupThousands(report.total.jobs) + " jobs, " +
         GroupThousands(report.total.pages) + " pages" + SplitSentence(report.total.split) +
         ", cost " + GroupThousands(report.total.cost) + "\n";
  return out;
}

std::string SiteReportHtml(const SiteReport& report) {
  std::string out =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Pelko site report</title>"
      "<style>body{font-family:sans-serif}table{border-collapse:collapse;margin-bottom:1em}"
      "td,th{border:1px solid #999;padding:2px 8px}td.n{text-align:right}</style></head><body>\n"
      "<h1>Pelko site report</h1>\n<p>" + Range(report) + ": " +
      GroupThousands(report.total.jobs) + " jobs, " + GroupThousands(report.total.pages) +
      " pages" + SplitSentence(report.total.split) + ", cost " +
      GroupThousands(report.total.cost) + "</p>\n";
  for (const Section& section : Sections(report)) {
    out += std::string("<h2>Per ") + section.title + "</h2>\n<table><tr><th>" + section.title +
           "</th><th>jobs</th><th>pages</th><th>cost</th>";
    for (const PageFigure& f : SplitFigures(report.total.split, report.total.split)) {
      out += "<th>" + std::string(f.label) + "</th>";
    }
    out += "</tr>\n";
    for (const Subtotal& s : *section.rows) {
      out += "<tr><td>";
      // Escaped byte for byte: UTF-8 passes through.
      AppendEscaped(out, s.name);
      out += "</td><td class=n>" + GroupThousands(s.jobs) + "</td><td class=n>" +
             GroupThousands(s.pages) + "</td><td class=n>" + GroupThousands(s.cost) + "</td>";
      for (const PageFigure& f : SplitFigures(report.total.split, s.split)) {
        out += "<td class=n>" + GroupThousands(f.value) + "</td>";
      }
      out += "</tr>\n";
    }
    out += "</table>\n";
  }
  return out + "</body></html>\n";
}

}  // namespace pelko::report
