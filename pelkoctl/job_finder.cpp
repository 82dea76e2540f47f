#include "pelkoctl/job_finder.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"
#include "agent/monitor/seen_jobs.h"
#include "agent/util/coding.h"
#include "pelkoctl/log_text.h"
#include "pelkoctl/pelko_key.h"
#include "pelkoctl/printer_admin.h"

namespace pelko::ctl {

namespace {

// More than CUPS keeps by default (MaxJobs 500): the whole history.
constexpr std::size_t kHistoryMost = 100000;

struct SpooledJob {
  HistoryJob job;
  int64_t submittedAt = 0;
  bool queued = false;  // still in the queue
  std::string printer;  // the configured printer of its queue; empty: none
};

bool Matches(const JobQuery& query, uint32_t id, const std::string& user,
             const std::string& title) {
  if (query.id && *query.id != id) return false;
  if (!query.user.empty() && !AsciiEqualFold(query.user, user)) return false;
  return query.title.empty() ||
         AsciiLowered(title).find(AsciiLowered(query.title)) != std::string::npos;
}

std::string QueueKey(const std::string& printer) { return AsciiLowered(ShortPrinterName(printer)); }

// Every entry of every daily log kept, by queue and job id.
std::multimap<std::pair<std::string, uint32_t>, JobEntry> LoggedJobs(const Env& env) {
  std::multimap<std::pair<std::string, uint32_t>, JobEntry> logged;
  auto path = PelkoKey(*env.registry).Get("Path");
  if (!path || !path->Text() || path->Text()->empty()) return logged;
  const char separator = env.files->Separator();
  const std::string folder = LogsFolder(*path->Text(), separator);
  auto search = env.files->Find(folder + separator + "*.xml");
  if (!search) return logged;
  LogStore logs(env);
  for (FileEntry file; search->Next(&file);) {
    if (DateOfLogName(file.name).empty() || IsGatheredLogName(file.name) ||
        AsciiLowered(file.name).rfind(AsciiLowered(kGlobalLogBase) + "_", 0) == 0) {
      continue;
    }
    const std::string where = folder + separator + file.name;
    std::string text;
    if (logs.ReadAll(where, &text) != FileStatus::kOk) continue;
    text = LogTextForUser(std::move(text));
    std::vector<LogEntry> entries;
    ReadLogEntries(text, &entries);
    for (const LogEntry& entry : entries) {
      const uint32_t id = static_cast<uint32_t>(std::max(LeadingInt(entry.id), 0));
      logged.emplace(std::make_pair(QueueKey(std::string(entry.printer)), id),
                     JobEntry{where, EntryOf(entry)});
    }
  }
  return logged;
}

void Take(std::map<std::pair<std::string, uint32_t>, SpooledJob>& jobs, const std::string& printer,
          const SpoolJob& told, bool queued) {
  SpooledJob& job = jobs[{QueueKey(printer), told.id}];
  job.job.queue = ShortPrinterName(printer);
  job.job.id = told.id;
  job.job.user = told.user.value_or("");
  job.job.title = told.document.value_or("");
  job.job.pages = told.pagesPrinted;
  job.submittedAt = told.submittedAt;
  job.queued = queued;
  job.printer = printer;
}

// Why a job the spooler tells of has no entry.
std::string WhyNotEntered(const Env& env, const SpooledJob& spooled) {
  const HistoryJob& job = spooled.job;
  if (spooled.printer.empty()) {
    return "its queue '" + job.queue +
           "' is not configured, so nothing printed there is accounted (pelkoctl add \"" +
           job.queue + "\" --cost N)";
  }
  if (spooled.queued) return "it is still in the queue: it is entered once it has printed";
  if (job.cancelled && job.pages.value_or(0) == 0) {
    return "it was cancelled before a page was printed: there is nothing to bill";
  }
  if (job.raw) {
    return "it was a raw job (lp -o raw): the spooler counts no pages of one, so it has no entry";
  }
  const SeenJobs book = LoadSeenJobs(env, spooled.printer);
  if (!book.Known()) {
    return "the printer is not watched yet: the agent has not taken it up (pelkoctl check says "
           "why)";
  }
  const SeenJob* seen = book.Find({job.id, spooled.submittedAt});
  if (seen != nullptr && seen->beforeWatch) {
    return "it was printed before the printer was watched: it was in the spooler's history when "
           "the "
           "agent first looked at the queue";
  }
  if (seen != nullptr && !seen->entries.empty()) {
    const auto& [day, stamp] = *seen->entries.begin();
    return "it was entered at " + stamp + " in the log of " + day + ", which is no longer there";
  }
  if (job.pages && *job.pages == 0) return "it printed no page: there is nothing to bill";
  return "it has no entry yet: the agent enters a job within seconds of its end while it runs "
         "(pelkoctl check says whether it does)";
}

}  // namespace

FindResult FindJobs(const Env& env, HostProbe* probe, const JobQuery& query) {
  std::vector<PrinterRow> rows;
  std::string countProblem;
  PrinterAdmin(env).List(&rows, &countProblem);
  std::map<std::pair<std::string, uint32_t>, SpooledJob> spooled;
  std::map<std::string, std::string> configured;  // queue key -> printer name
  for (const PrinterRow& row : rows) {
    if (row.name.empty() || row.hidden) continue;
    configured[QueueKey(row.name)] = row.name;
    std::vector<SpoolJob> told;
    if (env.spooler->KeepsEndedJobs() &&
        env.spooler->ListEndedJobs(row.name, kHistoryMost, &told) == SpoolStatus::kOk) {
      for (const SpoolJob& job : told) Take(spooled, row.name, job, false);
    }
    // What Windows still lists: a job leaves its spooler as it ends.
    std::unique_ptr<JobCursor> cursor;
    if (env.spooler->ListJobs(row.name, &cursor, &told) == SpoolStatus::kOk) {
      for (const SpoolJob& job : told) Take(spooled, row.name, job, true);
    }
  }
  // The whole history tells the queues not configured, and how each ended.
  const std::optional<std::vector<HistoryJob>> history =
      probe != nullptr ? probe->SpoolerHistory() : std::nullopt;
  for (const HistoryJob& job : history.value_or(std::vector<HistoryJob>{})) {
    SpooledJob& known = spooled[{QueueKey(job.queue), job.id}];
    const std::optional<uint32_t> pages = known.job.pages;
    known.job = job;
    if (pages) known.job.pages = pages;  // the queue's own count, where it was asked
    auto printer = configured.find(QueueKey(job.queue));
    known.printer = printer == configured.end() ? "" : printer->second;
  }
  uint32_t oldest = 0;
  for (const auto& [key, job] : spooled) {
    if (!job.queued) oldest = oldest == 0 ? job.job.id : std::min(oldest, job.job.id);
  }
  auto logged = LoggedJobs(env);
  FindResult result;
  for (const auto& [key, job] : spooled) {
    if (!Matches(query, job.job.id, job.job.user, job.job.title)) continue;
    FoundJob found{job.job.queue, job.job.id, job.job.user, job.job.title, true, {}, ""};
    auto [first, last] = logged.equal_range(key);
    for (auto at = first; at != last; ++at) found.entries.push_back(at->second);
    logged.erase(first, last);
    if (found.entries.empty()) found.why = WhyNotEntered(env, job);
    result.jobs.push_back(std::move(found));
  }
  // Entered, and gone from the spooler since.
  std::pair<std::string, uint32_t> previous;
  for (const auto& [key, entry] : logged) {
    if (!Matches(query, key.second, entry.entry.user, entry.entry.doc)) continue;
    if (key != previous || result.jobs.empty() || result.jobs.back().inSpooler) {
      result.jobs.push_back(
          {entry.entry.printer, key.second, entry.entry.user, entry.entry.doc, false, {}, ""});
    }
    result.jobs.back().entries.push_back(entry);
    previous = key;
  }
  if (result.jobs.empty()) {
    const std::string what = query.id              ? "job " + std::to_string(*query.id)
                             : !query.user.empty() ? "no job of user '" + query.user + "'"
                                                   : "no job titled '*" + query.title + "*'";
    if (query.id && oldest != 0 && *query.id < oldest) {
      result.none = what + " is beyond the history the spooler keeps (its oldest is job " +
                    std::to_string(oldest) + ") and in no daily log kept";
    } else {
      result.none = (query.id ? what + " is" : what + " was") +
                    " not found anywhere: not in the spooler's history, not in any daily log kept";
    }
  }
  return result;
}

int PrintFound(const FindResult& result, const CostUnit& unit, std::ostream& out) {
  if (result.jobs.empty()) {
    out << result.none << '\n';
    return 1;
  }
  for (const FoundJob& job : result.jobs) {
    out << "job " << job.id << " on " << job.queue << " by " << (job.user.empty() ? "?" : job.user);
    if (!job.title.empty()) out << " \"" << job.title << '"';
    if (!job.inSpooler) out << " (no longer in the spooler's history)";
    out << '\n';
    for (const JobEntry& at : job.entries) {
      const EntryLine& e = at.entry;
      out << "  entered in " << at.file << ": " << e.date << ' ' << e.time << ' ' << e.id << ' '
          << e.user << ' ' << e.pages << " pages " << CostText(e.cost, unit) << '\n';
    }
    if (job.entries.empty()) out << "  not entered: " << job.why << '\n';
  }
  return 0;
}

}  // namespace pelko::ctl
