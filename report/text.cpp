#include "report/text.h"

#include <algorithm>

#include "report/columns.h"
#include "report/guard.h"

namespace pelko::report {

namespace {

constexpr std::size_t kWidestName = 40;

std::string Shown(std::string_view text, TextEncoding encoding) {
  return text.empty() ? "(none)" : ShownText(text, encoding);
}

// Widths in characters: UTF-8 names take several bytes for one.
std::size_t Width(const std::string& text, TextEncoding encoding) {
  if (encoding != TextEncoding::kUtf8) return text.size();
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string Left(std::string text, std::size_t width,
                 TextEncoding encoding = TextEncoding::kWindows1252) {
  const std::size_t have = Width(text, encoding);
  if (have < width) text.append(width - have, ' ');
  return text;
}

std::string Right(const std::string& text, std::size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

void Subtotals(std::string& out, const Report& r, const JobGroup& group) {
  const TextEncoding encoding = r.encoding;
  const std::vector<Subtotal>& groups = r.*group.groups;
  const std::string_view header = group.header, all = group.all;
  auto name = [&](const std::string& text) {
    return group.name == GroupName::kMonth ? ShownMonth(text) : Shown(text, encoding);
  };
  std::size_t width = std::max(header.size(), all.size());
  for (const Subtotal& s : groups)
    width = std::max(width, std::min(Width(name(s.name), encoding), kWidestName));
  out += "\n";
  out += group.title;
  auto figureWidth = [](const PageFigure& f) {
    return std::max<std::size_t>(f.label.size() + 2, 12);
  };
  out += "\n  " + Left(std::string(header), width) + Right("Jobs", 10) + Right("Pages", 12) +
         Right("Cost", 14);
  for (const PageFigure& f : SplitFigures(r.split, r.split))
    out += Right(std::string(f.label), figureWidth(f));
  out += "\n";
  auto row = [&](const std::string& name, int64_t jobs, int64_t pages, int64_t cost,
                 const PageSplit& split) {
    out += "  " + Left(name, width, encoding) + Right(GroupThousands(jobs), 10) +
           Right(GroupThousands(pages), 12) + Right(ShownCost(r, cost), 14);
    for (const PageFigure& f : SplitFigures(r.split, split)) {
      out += Right(GroupThousands(f.value), figureWidth(f));
    }
    out += "\n";
  };
  for (const Subtotal& s : groups) row(name(s.name), s.jobs, s.pages, s.cost, s.split);
  row(std::string(all), r.jobs, r.pages, r.jobCost, r.split);
}

// A job's line: the columns that have a lead in it, a detail only where
// the job told its details.
void AppendJobLine(std::string& out, const Report& r, const Job& job) {
  for (const JobColumn& column : kJobColumns) {
    if (column.textLead.empty() || (column.IsDetail() && !job.told)) continue;
    out += column.textLead;
    switch (column.kind) {
      case CellKind::kStamp:
      case CellKind::kName:
      case CellKind::kText:
        out += Shown(job.*column.text, r.encoding);
        break;
      case CellKind::kCost:
        out += ShownCost(r, job.*column.figure);
        break;
      case CellKind::kCount:
        out += GroupThousands(job.*column.figure);
        if (!column.textUnit.empty()) {
          out += ' ';
          out += column.textUnit;
          if (job.*column.figure != 1) out += 's';
        }
        break;
    }
  }
  out += '\n';
}

}  // namespace

std::string ReportHeading(const Report& r) {
  std::string out = r.site     ? "Site print report, all servers: "
                    : r.global ? "Print report, all printers: "
                               : "Daily print log: ";
  return out + Shown(Headline(r), r.encoding) + "\n" + ShownText(WhenLine(r), r.encoding) + "\n";
}

std::string ReportText(const Report& r, std::string_view moreNote) {
  std::string out = ReportHeading(r) + "\n";
  out += "Total cost: " + ShownCost(r, r.TotalCost()) + "\n";
  out += "Pages:      " + GroupThousands(r.pages) + "\n";
  for (const PageFigure& f : SplitFigures(r.split, r.split)) {
    out += "  " + std::string(f.label) + ": " + GroupThousands(f.value) + "\n";
  }
  out += "Jobs:       " + GroupThousands(r.jobs) + "\n";
  out += "Users:      " + GroupThousands(static_cast<int64_t>(r.users.size())) + "\n";
  if (r.global)
    out += "Printers:   " + GroupThousands(static_cast<int64_t>(r.printers.size())) + "\n";
  if (r.site) out += "Servers:    " + GroupThousands(static_cast<int64_t>(r.servers.size())) + "\n";
  if (r.logsWithoutTotal > 0 && r.logsWithoutTotal == r.logs) {
    out += "The log holds no total; the total shown is the sum of the jobs listed.\n";
  } else if (r.TotalDiffers()) {
    out += "The total is the one recorded in the log. The costs of the jobs add up to " +
           ShownCost(r, r.jobCost) + ".\n";
  }
  if (r.jobs == 0) {
    out += "\nNo jobs\n";
    return out;
  }
  Subtotals(out, r, kJobGroups[kUsers]);
  Subtotals(out, r, kJobGroups[kPrinters]);
  if (r.site) Subtotals(out, r, kJobGroups[kServers]);
  if (r.months.size() > 1) Subtotals(out, r, kJobGroups[kMonths]);
  out += "\nJobs, newest first\n";
  for (const Job& job : r.listed) AppendJobLine(out, r, job);
  if (r.unlisted > 0) {
    out += "and " + GroupThousands(r.unlisted) + " more jobs.";
    if (!moreNote.empty()) out += " " + std::string(moreNote);
    out += "\n";
  }
  return out;
}

}  // namespace pelko::report
