#include "report/report.h"

#include <algorithm>
#include <utility>

#include "agent/logs/log_format.h"

namespace pelko::report {

namespace {

// The text between open and close in the head (before the first entry).
std::string HeadValue(std::string_view head, std::string_view open, std::string_view close) {
  const std::size_t begin = head.find(open);
  if (begin == std::string_view::npos) return "";
  const std::size_t from = begin + open.size();
  const std::size_t end = head.find(close, from);
  if (end == std::string_view::npos) return "";
  return CleanLogText(head.substr(from, end - from));
}

std::string Value(const LogEntry& entry, std::string_view value) {
  return entry.clean ? std::string(value) : CleanLogText(value);
}

void Count(std::map<std::string, Subtotal, std::less<>>& groups, const std::string& name,
           const Job& job) {
  auto at = groups.find(name);
  if (at == groups.end()) at = groups.emplace(name, Subtotal{name}).first;
  at->second.jobs += 1;
  at->second.pages += job.pages;
  at->second.cost += job.cost;
  at->second.split.Add(job);
}

Job JobOf(const LogEntry& entry) {
  Job job{Value(entry, entry.date),    Value(entry, entry.time),    Value(entry, entry.id),
          Value(entry, entry.user),    Value(entry, entry.printer), Value(entry, entry.doc),
          EntryPages(entry),           EntryCost(entry)};
  if (entry.hasDetails) {
    const EntryDetails& d = entry.details;
    job.told = true;
    job.copies = LeadingInt(Value(entry, d.copies));
    job.colorPages = LeadingInt(Value(entry, d.colorPages));
    job.monoPages = LeadingInt(Value(entry, d.monoPages));
    job.sides = Value(entry, d.sides);
    job.paper = Value(entry, d.paper);
    job.client = Value(entry, d.client);
    job.colorFrom = Value(entry, d.colorFrom);
  }
  return job;
}

std::vector<Subtotal> Ranked(std::map<std::string, Subtotal, std::less<>>& groups) {
  std::vector<Subtotal> out;
  out.reserve(groups.size());
  for (auto& [name, subtotal] : groups) out.push_back(std::move(subtotal));
  std::stable_sort(out.begin(), out.end(),
                   [](const Subtotal& a, const Subtotal& b) { return a.cost > b.cost; });
  return out;
}

}  // namespace

void PageSplit::Add(const Job& job) {
  if (!job.told) {
    untold += job.pages;
    return;
  }
  color += job.colorPages;
  mono += job.monoPages;
  toldJobs += 1;
}

std::vector<PageFigure> SplitFigures(const PageSplit& all, const PageSplit& group) {
  if (all.toldJobs == 0) return {};
  std::vector<PageFigure> figures{{"color", "Colour", group.color}, {"mono", "Mono", group.mono}};
  if (all.untold > 0) figures.push_back({"untold", "Not told apart", group.untold});
  return figures;
}

ReportBuilder::ReportBuilder(std::size_t listLimit, std::function<void(const Job&)> sink)
    : listLimit(listLimit), sink(std::move(sink)) {}

bool ReportBuilder::AddLog(std::string_view text) {
  const std::size_t logStart = text.find("<log>");
  if (logStart == std::string_view::npos) return false;
  const std::size_t headEnd = std::min(text.find(kEntryMarker, logStart), text.size());
  const std::string_view head = text.substr(logStart, headEnd - logStart);
  if (report.logs++ == 0) {
    singleTitle = HeadValue(head, "<type>", "</type>");
    singleDate = HeadValue(head, "<date>", "</date>");
  }
  // Read in slices cut before an entry, so that a large global log never
  // has all its entries listed at once.
  constexpr std::size_t kSlice = 1 << 20;
  std::vector<LogEntry> entries;
  int64_t fileCost = 0;
  bool hasTotal = false;
  int32_t recorded = 0;
  for (std::size_t at = headEnd; at < text.size();) {
    std::size_t end = text.size();
    if (text.size() - at > kSlice) end = std::min(text.find(kEntryMarker, at + kSlice), end);
    const std::string_view slice = text.substr(at, end - at);
    const std::size_t tail = ReadLogEntries(slice, &entries);
    for (const LogEntry& entry : entries) {
      Job job = JobOf(entry);
      fileCost += job.cost;
      AddJob(std::move(job));
    }
    if (tail != std::string_view::npos) {
      hasTotal = ReadTotalEntry(slice, tail, &recorded);
      break;
    }
    at = end;
  }
  if (hasTotal) {
    report.recordedTotal += recorded;
  } else {
    report.recordedTotal += fileCost;
    report.logsWithoutTotal += 1;
  }
  return true;
}

void ReportBuilder::AddJob(Job&& job) {
  report.jobs += 1;
  report.pages += job.pages;
  report.jobCost += job.cost;
  report.split.Add(job);
  if (!job.date.empty()) {
    if (report.firstDate.empty() || job.date < report.firstDate) report.firstDate = job.date;
    if (job.date > report.lastDate) report.lastDate = job.date;
  }
  Count(users, job.user, job);
  Count(printers, job.printer, job);
  if (sink) sink(job);
  if (report.listed.size() < listLimit) {
    report.listed.push_back(std::move(job));
  } else {
    report.unlisted += 1;
  }
}

Report ReportBuilder::Finish() {
  if (report.logs == 1) {
    report.title = singleTitle;
    report.headDate = singleDate;
    report.global = singleTitle == "Global Log";
  } else {
    report.title = std::to_string(report.logs) + " logs";
    report.global = true;
  }
  report.users = Ranked(users);
  report.printers = Ranked(printers);
  users.clear();
  printers.clear();
  return std::move(report);
}

std::string GroupThousands(int64_t n, std::string_view sep) {
  const bool negative = n < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  const std::string digits = std::to_string(magnitude);
  std::string out = negative ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return out;
}

}  // namespace pelko::report
