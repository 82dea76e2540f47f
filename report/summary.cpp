#include "report/summary.h"

#include <algorithm>
#include <vector>

#include "agent/util/unicode.h"
#include "report/text.h"

namespace pelko::report {

namespace {

constexpr std::size_t kWidestName = 40;

// Control bytes would move the cursor of the terminal the table is read on.
std::string Printable(const std::string& name, TextEncoding from, TextEncoding encoding) {
  return Recoded(name.empty() ? "(none)" : ShownText(name, from), from, encoding);
}

std::string Cut(const std::string& text, std::size_t width, TextEncoding encoding) {
  if (encoding != TextEncoding::kUtf8) return text.substr(0, width);
  std::string out;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts && shown++ == width) break;
    out += text[i];
  }
  return out;
}

std::string Pad(const std::string& text, std::size_t width, bool right, TextEncoding encoding) {
  const std::size_t have = encoding == TextEncoding::kUtf8 ? DisplayWidth(text) : text.size();
  const std::string fill(have < width ? width - have : 0, ' ');
  return right ? fill + text : text + fill;
}

constexpr int64_t kBarCells = 20;

// value's share of largest in up to kBarCells cells; any share at all shows.
std::string Bar(int64_t value, int64_t largest, TextEncoding encoding) {
  if (value <= 0 || largest <= 0) return "";
  const int64_t cells = std::max<int64_t>(1, (value * kBarCells * 2 + largest) / (2 * largest));
  std::string out = "  ";
  for (int64_t i = 0; i < cells; ++i) out += encoding == TextEncoding::kUtf8 ? "\xE2\x96\x88" : "#";
  return out;
}

std::size_t FigureWidth(const PageFigure& figure) {
  return std::max<std::size_t>(figure.label.size() + 2, 10);
}

}  // namespace

std::size_t DisplayWidth(const std::string& utf8) {
  std::size_t n = 0;
  for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string SummaryBuilder::PeriodOf(const std::string& date) const {
  // Dates in the logs are YYYY/MM/DD.
  switch (grouping) {
    case Grouping::kNone:
      return "";
    case Grouping::kDay:
      return date;
    case Grouping::kMonth:
      return date.substr(0, 7);
  }
  return "";
}

void SummaryBuilder::AddAll(const std::string& date, const Subtotal& figures) {
  AddFigures(periods[PeriodOf(date)].all, figures);
}

void SummaryBuilder::AddGroup(std::size_t group, const std::string& date, const Subtotal& figures) {
  const std::size_t at =
      std::find(kSummaryGroups.begin(), kSummaryGroups.end(), group) - kSummaryGroups.begin();
  AddFigures(periods[PeriodOf(date)].groups.at(at)[figures.name], figures);
}

void SummaryBuilder::Add(const Job& job) {
  Period& period = periods[PeriodOf(job.date)];
  auto add = [&](Sum& sum) {
    ++sum.jobs;
    sum.pages += job.pages;
    sum.cost += job.cost;
    sum.split.Add(job);
  };
  for (std::size_t i = 0; i < kSummaryGroups.size(); ++i)
    add(period.groups[i][kJobGroups[kSummaryGroups[i]].of(job)]);
  add(period.all);
}

std::string SummaryBuilder::Table(const Report& report, TextEncoding encoding, bool bars) const {
  std::string out;
  auto section = [&](const JobGroup& group, const std::string& when, const Sums& sums,
                     const Sum& all) {
    const std::string title = std::string(group.title) + when, header(group.header),
                      allName(group.all);
    std::vector<std::pair<std::string, Sum>> rows;
    for (const auto& [name, sum] : sums) {
      rows.emplace_back(Cut(Printable(name, report.encoding, encoding), kWidestName, encoding),
                        sum);
    }
    // Largest cost first, as the mailed report has them.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.second.cost > b.second.cost; });
    std::size_t width = std::max(header.size(), allName.size());
    for (const auto& row : rows) {
      width = std::max(
          width, encoding == TextEncoding::kUtf8 ? DisplayWidth(row.first) : row.first.size());
    }
    int64_t mostCost = 0, mostPages = 0;
    for (const auto& row : rows) {
      mostCost = std::max(mostCost, row.second.cost);
      mostPages = std::max(mostPages, row.second.pages);
    }
    // The colour figures stand after the cost, so that the columns of a
    // report without them stay where scripts read them.
    auto line = [&](const std::string& name, const Sum& sum, bool barred) {
      out += "  " + Pad(name, width, false, encoding) +
             Pad(GroupThousands(sum.jobs), 8, true, encoding) +
             Pad(GroupThousands(sum.pages), 10, true, encoding) +
             Pad(ShownCost(report, sum.cost), 14, true, encoding);
      for (const PageFigure& f : SplitFigures(report.split, sum.split)) {
        out += Pad(GroupThousands(f.value), FigureWidth(f), true, encoding);
      }
      if (barred)
        out +=
            mostCost > 0 ? Bar(sum.cost, mostCost, encoding) : Bar(sum.pages, mostPages, encoding);
      out += "\n";
    };
    out += title + "\n";
    out += "  " + Pad(header, width, false, encoding) + Pad("Jobs", 8, true, encoding) +
           Pad("Pages", 10, true, encoding) + Pad("Cost", 14, true, encoding);
    for (const PageFigure& f : SplitFigures(report.split, all.split)) {
      out += Pad(std::string(f.label), FigureWidth(f), true, encoding);
    }
    out += "\n";
    for (const auto& row : rows) line(row.first, row.second, bars);
    line(allName, all, false);
  };
  out += Recoded(ReportHeading(report), report.encoding, encoding);
  if (periods.empty()) out += "\nNo jobs.\n";
  for (const auto& [period, sums] : periods) {
    const std::string when = period.empty()                 ? ""
                             : grouping == Grouping::kMonth ? ", " + ShownMonth(period)
                                                            : ", " + ShownDate(period);
    for (std::size_t i = 0; i < kSummaryGroups.size(); ++i) {
      out += "\n";
      section(kJobGroups[kSummaryGroups[i]], when, sums.groups[i], sums.all);
    }
  }
  if (report.TotalDiffers()) {
    out += "\nThe logs' Total entries say " + ShownCost(report, report.TotalCost()) +
           "; their jobs add up to " + ShownCost(report, report.jobCost) + ".\n";
  }
  return out;
}

}  // namespace pelko::report
