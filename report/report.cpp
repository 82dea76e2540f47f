#include "report/report.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <tuple>
#include <utility>

#include "agent/logs/log_format.h"
#include "report/columns.h"

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

void Count(std::map<std::string, Subtotal, std::less<>>& groups, const std::string& name,
           const Job& job) {
  auto at = groups.find(name);
  if (at == groups.end()) at = groups.emplace(name, Subtotal{name}).first;
  at->second.jobs += 1;
  at->second.pages += job.pages;
  at->second.cost += job.cost;
  at->second.split.Add(job);
}

void Merge(std::map<std::string, Subtotal, std::less<>>& groups, const std::string& name,
           const Subtotal& figures) {
  auto at = groups.find(name);
  if (at == groups.end()) at = groups.emplace(name, Subtotal{name}).first;
  AddFigures(at->second, figures);
}

// A job of a log in from's encoding, in the report's: its names.
void Recode(Job& job, TextEncoding from, TextEncoding to) {
  if (from == to) return;
  for (const JobColumn& column : kJobColumns) {
    if (column.kind == CellKind::kName)
      job.*column.text = Recoded(std::move(job.*column.text), from, to);
  }
}

// In the order of their names, or ranked: largest cost first.
std::vector<Subtotal> InOrder(std::map<std::string, Subtotal, std::less<>>& groups, bool ranked) {
  std::vector<Subtotal> out;
  out.reserve(groups.size());
  for (auto& [name, subtotal] : groups) out.push_back(std::move(subtotal));
  if (ranked) {
    std::stable_sort(out.begin(), out.end(),
                     [](const Subtotal& a, const Subtotal& b) { return a.cost > b.cost; });
  }
  return out;
}

}  // namespace

ReportBuilder::ReportBuilder(std::size_t listLimit, std::function<void(const Job&)> sink)
    : listLimit(listLimit), sink(std::move(sink)) {}

bool ReportBuilder::AddLog(std::string_view text) {
  const std::size_t logStart = text.find("<log>");
  if (logStart == std::string_view::npos) return false;
  const std::size_t headEnd = std::min(text.find(kEntryMarker, logStart), text.size());
  const std::string_view head = text.substr(logStart, headEnd - logStart);
  // Each log is read in the encoding it declares.
  const TextEncoding names = DeclaresUtf8(text) ? TextEncoding::kUtf8 : TextEncoding::kWindows1252;
  if (report.logs++ == 0) {
    singleTitle = Recoded(HeadValue(head, "<type>", "</type>"), names, report.encoding);
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
      Job job = JobOfEntry(entry);
      Recode(job, names, report.encoding);
      fileCost += job.cost;
      Keep(std::move(job));
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

void ReportBuilder::Describe(std::string_view from, std::string_view to, TextEncoding encoding,
                             const CostUnit& costUnit, bool site) {
  report.from = from;
  report.to = to;
  report.encoding = encoding;
  report.costUnit = costUnit;
  report.site = site;
  asked = !from.empty() || !to.empty();
}

void ReportBuilder::AddJob(Job&& job) {
  report.recordedTotal += job.cost;
  Keep(std::move(job));
}

void ReportBuilder::AddJob(const Job& job) {
  report.recordedTotal += job.cost;
  Tally(job);
  if (Listable(job)) ListJob(Job(job));
}

void ReportBuilder::SeeDate(const std::string& date) {
  // A date of no day (a damaged entry, a hostile row) says nothing of the period.
  if (LogDateOf(date).find_first_not_of("0123456789") == std::string::npos &&
      LogDateOf(date).size() == 8) {
    if (report.firstDate.empty() || date < report.firstDate) report.firstDate = date;
    if (date > report.lastDate) report.lastDate = date;
  }
}

void ReportBuilder::AddDayFigures(const std::string& jobDate, const Subtotal& figures) {
  report.recordedTotal += figures.cost;
  report.jobs += figures.jobs;
  report.pages += figures.pages;
  report.jobCost += figures.cost;
  report.split.Add(figures.split);
  SeeDate(jobDate);
  Merge(groups[kMonths], jobDate.substr(0, 7), figures);
  Merge(groups[kDays], jobDate, figures);
}

void ReportBuilder::AddGroupFigures(std::size_t group, const Subtotal& figures) {
  Merge(groups[group], figures.name, figures);
}

bool ReportBuilder::Listable(const Job& job) const {
  // Once trimmed, the listLimit-th is the oldest job that may stay.
  return listLimit != 0 && (!trimmed || NewerFirst(job, report.listed[listLimit - 1]));
}

void ReportBuilder::ListJob(Job&& job) {
  if (!Listable(job)) return;
  report.listed.push_back(std::move(job));
  if (report.listed.size() >= 2 * listLimit) {
    std::partial_sort(report.listed.begin(), report.listed.begin() + listLimit, report.listed.end(),
                      NewerFirst);
    report.listed.resize(listLimit);
    trimmed = true;
  }
}

void ReportBuilder::Tally(const Job& job) {
  report.jobs += 1;
  report.pages += job.pages;
  report.jobCost += job.cost;
  report.split.Add(job);
  SeeDate(job.date);
  for (std::size_t g = 0; g < kGroupCount; ++g) {
    const std::string name = kJobGroups[g].of(job);
    if (kJobGroups[g].always || !name.empty()) Count(groups[g], name, job);
  }
  if (sink) sink(job);
}

void ReportBuilder::Keep(Job&& job) {
  Tally(job);
  // The newest listLimit, sorted once they are twice as many.
  ListJob(std::move(job));
}

Report ReportBuilder::Finish() {
  // A period asked for is the heading even where one log was found.
  if (report.logs == 1 && !asked) {
    report.title = singleTitle;
    report.headDate = singleDate;
    report.global = singleTitle == "Global Log";
  } else {
    report.global = true;
  }
  if (report.from.empty()) report.from = LogDateOf(report.firstDate);
  if (report.to.empty()) report.to = LogDateOf(report.lastDate);
  std::sort(report.listed.begin(), report.listed.end(), NewerFirst);
  if (report.listed.size() > listLimit) report.listed.resize(listLimit);
  report.unlisted = report.jobs - static_cast<int64_t>(report.listed.size());
  for (std::size_t g = 0; g < kGroupCount; ++g) {
    report.*kJobGroups[g].groups = InOrder(groups[g], kJobGroups[g].ranked);
    groups[g].clear();
  }
  return std::move(report);
}

std::string Headline(const Report& r) {
  if (!r.title.empty()) return r.title;
  return r.from.empty() && r.to.empty() ? "No jobs" : PeriodText(r.from, r.to);
}

std::string WhenLine(const Report& r) {
  if (r.site) {
    const std::size_t n = r.servers.size();
    return "Every server's jobs in the central database: " + std::to_string(n) +
           (n == 1 ? " server" : " servers");
  }
  if (r.title.empty()) {
    return r.logs == 0 ? ""
                       : "Jobs of " + std::to_string(r.logs) + (r.logs == 1 ? " log" : " logs");
  }
  std::string out;
  if (!r.headDate.empty()) out += (r.global ? "Built on " : "") + r.headDate;
  if (r.global && r.jobs > 0) {
    out += (r.headDate.empty() ? "Jobs of " : ", jobs of ") + PeriodText(r.from, r.to);
  }
  return out;
}

std::string LogDateOf(std::string_view jobDate) {
  if (jobDate.size() == 10 && jobDate[4] == '/' && jobDate[7] == '/') {
    return std::string(jobDate.substr(0, 4)) + std::string(jobDate.substr(5, 2)) +
           std::string(jobDate.substr(8, 2));
  }
  return std::string(jobDate);
}

std::string ShownDate(std::string_view date) {
  const std::string day = LogDateOf(date);
  if (day.size() != 8 || day.find_first_not_of("0123456789") != std::string::npos) {
    return std::string(date);
  }
  return day.substr(0, 4) + "-" + day.substr(4, 2) + "-" + day.substr(6, 2);
}

std::string ShownMonth(std::string_view month) {
  static const char* const kNames[] = {"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};
  std::string digits;
  for (const char c : month) {
    if (c != '/' && c != '-') digits += c;
  }
  if (digits.size() != 6 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return std::string(month);
  }
  const int number = std::stoi(digits.substr(4, 2));
  if (number < 1 || number > 12) return std::string(month);
  return std::string(kNames[number - 1]) + " " + digits.substr(0, 4);
}

std::string PeriodText(std::string_view from, std::string_view to) {
  if (from.empty() && to.empty()) return "";
  if (from.empty()) return "until " + ShownDate(to);
  if (to.empty()) return "from " + ShownDate(from);
  if (from == to) return ShownDate(from);
  // A whole month reads as its name.
  if (from.size() == 8 && to.size() == 8 && from.substr(0, 6) == to.substr(0, 6) &&
      from.substr(6) == "01") {
    using namespace std::chrono;
    const int y = std::atoi(std::string(from.substr(0, 4)).c_str());
    const unsigned m = static_cast<unsigned>(std::atoi(std::string(from.substr(4, 2)).c_str()));
    const year_month_day_last last{year{y} / month{m} / std::chrono::last};
    if (last.ok() && static_cast<unsigned>(last.day()) ==
                         static_cast<unsigned>(std::atoi(std::string(to.substr(6)).c_str()))) {
      return ShownMonth(from.substr(0, 6));
    }
  }
  return ShownDate(from) + " to " + ShownDate(to);
}

std::string GroupThousands(int64_t n, std::string_view sep) { return CostText(n, CostUnit{}, sep); }

std::string ShownCost(const Report& report, int64_t cost, std::string_view sep) {
  return CostText(cost, report.costUnit, sep);
}

}  // namespace pelko::report
