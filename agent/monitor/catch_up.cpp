#include "agent/monitor/catch_up.h"

#include <algorithm>
#include <set>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"
#include "agent/util/civil_time.h"

namespace pelko {

namespace {

LocalTime LocalDay(int64_t days) {
  LocalTime t;
  CivilFromDays(days, &t.year, &t.month, &t.day);
  return t;
}

// "2026/12/06" and "09:05:03" as an entry holds them.
LocalTime StampOf(const LogEntry& entry) {
  LocalTime t;
  if (entry.date.size() >= 10) {
    t.year = LeadingInt(entry.date.substr(0, 4));
    t.month = LeadingInt(entry.date.substr(5, 2));
    t.day = LeadingInt(entry.date.substr(8, 2));
  }
  if (entry.time.size() >= 8) {
    t.hour = LeadingInt(entry.time.substr(0, 2));
    t.minute = LeadingInt(entry.time.substr(3, 2));
    t.second = LeadingInt(entry.time.substr(6, 2));
  }
  return t;
}

}  // namespace

int64_t LocalSeconds(const LocalTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

LocalTime DaysBefore(const LocalTime& t, uint32_t days) {
  return LocalDay(DaysFromCivil(t.year, t.month, t.day) - days);
}

void EnteredJobs::Add(uint32_t id, uint32_t pages, const LocalTime& stamp) {
  auto [at, fresh] = jobs.try_emplace(id);
  EnteredJob& job = at->second;
  if (fresh || LocalSeconds(stamp) < LocalSeconds(job.firstStamp)) job.firstStamp = stamp;
  job.pages += pages;
  if (id > highestId) highestId = id;
  if (LocalSeconds(stamp) > LocalSeconds(newestStamp)) newestStamp = stamp;
}

std::string EntryStamp(const LocalTime& t) { return FormatLogDate(t) + " " + FormatLogTime(t); }

void AddLoggedEntries(std::string_view text, const std::string& printerName, EnteredJobs* entered,
                      const std::string& day) {
  const std::string printer = CleanLogText(printerName);
  std::vector<LogEntry> entries;
  ReadLogEntries(text, &entries);
  for (const LogEntry& entry : entries) {
    // Printers of one short name share the file.
    if (entry.printer != printer) continue;
    const int32_t id = LeadingInt(entry.id);
    if (id <= 0) continue;
    const int32_t read = EntryPages(entry);
    const uint32_t pages = read > 0 ? static_cast<uint32_t>(read) : 0;
    entered->Add(static_cast<uint32_t>(id), pages, StampOf(entry));
    entered->entries.push_back({static_cast<uint32_t>(id), day,
                                std::string(entry.date) + " " + std::string(entry.time), pages});
  }
}

EnteredJobs ReadEnteredJobs(const Env& env, const std::string& printerName, uint32_t days) {
  // Logs the purge deletes are gone anyway: not looked for.
  const uint32_t kept = RegistryDwordValue(*env.registry, settings::kDeleteLogsDays).Get();
  if (kept != 0 && kept < days) days = kept;
  if (days == 0) days = 1;
  LogStore store(env);
  const std::string fileName = DailyLogBase(printerName, *env.files);
  const LocalTime today = env.clock->Now();
  EnteredJobs entered;
  entered.since = DaysBefore(today, days - 1);
  auto take = [&](const std::string& path, const std::string& day) {
    std::string text;
    if (store.ReadAll(path, &text) == FileStatus::kOk) {
      AddLoggedEntries(text, printerName, &entered, day);
    }
  };
  for (uint32_t back = 0; back < days; ++back) {
    const LocalTime day = DaysBefore(today, back);
    take(store.DailyLogPath(printerName, day), FormatFileDate(day));
  }
  // A clock that was ahead left logs of days still to come; what they hold
  // was billed all the same.
  const char separator = env.files->Separator();
  const std::string folder =
      LogsFolder(RegistryStringValue(*env.registry, settings::kPath).Get(), separator);
  const std::string todayName = FormatFileDate(today);
  if (auto search = env.files->Find(folder + separator + fileName + "_*.xml")) {
    FileEntry found;
    while (search->Next(&found)) {
      const std::string date = DateOfLogName(found.name);
      // The pattern matches without regard to case, and longer names too.
      if ((found.attributes & kAttributeDirectory) != 0 || date.empty() || date <= todayName ||
          found.name.size() != fileName.size() + 13 || found.name.rfind(fileName, 0) != 0) {
        continue;
      }
      take(folder + separator + found.name, date);
    }
  }
  return entered;
}

std::optional<uint32_t> BilledPages(const SeenJobs& book, const EnteredJobs& entered,
                                    const SpoolJob& job) {
  if (const SeenJob* seen = book.Find(IdentityOf(job))) {
    if (seen->beforeWatch) return std::nullopt;
    auto waiting = entered.pending.find(IdentityOf(job));
    uint32_t pages = waiting != entered.pending.end() ? waiting->second : 0;
    for (const LoggedEntry& entry : entered.entries) {
      if (entry.id != job.id) continue;
      for (const auto& [day, stamp] : seen->entries) {
        if (stamp == entry.stamp) pages += entry.pages;
      }
    }
    return pages;
  }
  if (book.Known()) return std::nullopt;
  auto at = entered.jobs.find(job.id);
  if (at == entered.jobs.end()) return std::nullopt;
  // The logs' pages under the id and those pending, less what other jobs claim.
  uint32_t pages = at->second.pages;
  for (const LoggedEntry& entry : entered.entries) {
    if (entry.id == job.id && book.IsClaimed(entry.id, entry.stamp)) pages -= entry.pages;
  }
  return pages;
}

void ClaimUnclaimedEntries(const EnteredJobs& entered, const JobIdentity& job, SeenJobs* book) {
  book->Add(job);
  for (const LoggedEntry& entry : entered.entries) {
    if (entry.id == job.id && !entry.day.empty() && !book->IsClaimed(entry.id, entry.stamp)) {
      book->Claim(job, entry.day, entry.stamp);
    }
  }
}

namespace {

bool HasFinalCount(const SpoolJob& job) {
  return job.state == JobState::kEnded && job.exactCounts && job.pagesPrinted;
}

}  // namespace

std::vector<MissedJob> MissedJobs(const SeenJobs& book, const EnteredJobs& entered,
                                  const std::vector<SpoolJob>& ended, const WatchStart* start) {
  std::vector<MissedJob> missed;
  if (!book.Known() && entered.jobs.empty() && start == nullptr) return missed;
  const int64_t recent = LocalSeconds(entered.newestStamp) - kCatchUpSlackSeconds;
  for (const SpoolJob& job : ended) {
    if (!HasFinalCount(job)) continue;
    // Its entries may lie in a log no longer read (purged, or beyond the
    // days read): a job that ended before the oldest log read is let be.
    if (job.endedAt && LocalSeconds(*job.endedAt) < LocalSeconds(entered.since)) continue;
    // Ended before the printer was configured (again): not its to bill.
    if (start != nullptr && start->before.count(IdentityOf(job))) continue;
    const SeenJob* seen = book.Find(IdentityOf(job));
    if (seen != nullptr && seen->beforeWatch) continue;
    const uint32_t final = *job.pagesPrinted;
    if (const std::optional<uint32_t> billed = BilledPages(book, entered, job)) {
      if (final > *billed) missed.push_back({job, final - *billed});
      continue;
    }
    // Never billed: the agent did not watch when it ended.
    const bool unwatched = book.Known() || start != nullptr || job.id > entered.highestId ||
                           (job.endedAt && LocalSeconds(*job.endedAt) >= recent);
    if (unwatched) missed.push_back({job, final});
  }
  return missed;
}

void SeeEndedJobs(const EnteredJobs& entered, const std::vector<SpoolJob>& ended,
                  const std::vector<MissedJob>& missed, SeenJobs* book) {
  std::set<JobIdentity> missing;
  for (const MissedJob& job : missed) missing.insert(IdentityOf(job.job));
  // Judged on the book as MissedJobs saw it, before any job is added.
  std::set<JobIdentity> loggedOnly;
  for (const SpoolJob& job : ended) {
    if (HasFinalCount(job) && !book->Find(IdentityOf(job)) && BilledPages(*book, entered, job)) {
      loggedOnly.insert(IdentityOf(job));
    }
  }
  for (const SpoolJob& job : ended) {
    if (!HasFinalCount(job)) continue;
    const JobIdentity identity = IdentityOf(job);
    if (loggedOnly.count(identity)) {
      ClaimUnclaimedEntries(entered, identity, book);
    } else {
      book->Add(identity, !missing.count(identity));
    }
  }
  book->MarkKnown();
}

}  // namespace pelko
