#include "agent/monitor/catch_up.h"

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"

namespace pelko {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

LocalTime CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  LocalTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2));
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
  return CivilFromDays(DaysFromCivil(t.year, t.month, t.day) - days);
}

void EnteredJobs::Add(uint32_t id, uint32_t pages, const LocalTime& stamp) {
  auto [at, fresh] = jobs.try_emplace(id);
  EnteredJob& job = at->second;
  if (fresh || LocalSeconds(stamp) < LocalSeconds(job.firstStamp)) job.firstStamp = stamp;
  job.pages += pages;
  if (id > highestId) highestId = id;
  if (LocalSeconds(stamp) > LocalSeconds(newestStamp)) newestStamp = stamp;
}

void AddLoggedEntries(std::string_view text, const std::string& printerName,
                      EnteredJobs* entered) {
  const std::string printer = CleanLogText(printerName);
  std::vector<LogEntry> entries;
  ReadLogEntries(text, &entries);
  for (const LogEntry& entry : entries) {
    // Printers of one short name share the file.
    if (entry.printer != printer) continue;
    const int32_t id = LeadingInt(entry.id);
    if (id <= 0) continue;
    const int32_t pages = EntryPages(entry);
    entered->Add(static_cast<uint32_t>(id), pages > 0 ? static_cast<uint32_t>(pages) : 0,
                 StampOf(entry));
  }
}

namespace {

std::string WatchedSincePath(const Env& env, const std::string& printerName) {
  RegistryStringValue path(*env.registry, settings::kPath);
  const char separator = env.files->Separator();
  return LogsFolder(path.Get(), separator) + separator +
         PrinterFileName(printerName, *env.files, "watched");
}

}  // namespace

std::optional<LocalTime> WatchedSince(const Env& env, const std::string& printerName) {
  const std::string path = WatchedSincePath(env, printerName);
  std::string text;
  const FileStatus read = env.files->ReadText(path, &text);
  if (read == FileStatus::kOk) {
    LogEntry stamp;
    stamp.date = std::string_view(text).substr(0, 10);
    if (text.size() >= 19) stamp.time = std::string_view(text).substr(11, 8);
    const LocalTime since = StampOf(stamp);
    if (since.year > 0 && since.month > 0 && since.day > 0) return since;
    return std::nullopt;
  }
  if (read != FileStatus::kMissing) return std::nullopt;
  const LocalTime now = env.clock->Now();
  if (env.files->ReplaceText(path, FormatLogDate(now) + " " + FormatLogTime(now)) !=
      FileStatus::kOk) {
    return std::nullopt;
  }
  return now;
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
  entered.watchedSince = WatchedSince(env, printerName);
  for (uint32_t back = 0; back < days; ++back) {
    std::string text;
    if (store.ReadAll(store.ComposePath(fileName, "xml", DaysBefore(today, back)), &text) ==
        FileStatus::kOk) {
      AddLoggedEntries(text, printerName, &entered);
    }
  }
  return entered;
}

namespace {

// The entries of this job; none where those under its id are another's.
const EnteredJob* EntriesOf(const EnteredJobs& entered, const SpoolJob& job) {
  auto at = entered.jobs.find(job.id);
  if (at == entered.jobs.end()) return nullptr;
  // No entry of a job is older than the job.
  if (job.createdAt && LocalSeconds(at->second.firstStamp) <
                           LocalSeconds(*job.createdAt) - kCatchUpSlackSeconds) {
    return nullptr;
  }
  return &at->second;
}

}  // namespace

uint32_t EnteredPages(const EnteredJobs& entered, const SpoolJob& job) {
  const EnteredJob* entries = EntriesOf(entered, job);
  return entries != nullptr ? entries->pages : 0;
}

std::vector<MissedJob> MissedJobs(const EnteredJobs& entered, const std::vector<SpoolJob>& ended) {
  std::vector<MissedJob> missed;
  if (entered.jobs.empty() && !entered.watchedSince) return missed;
  const int64_t recent = LocalSeconds(entered.newestStamp) - kCatchUpSlackSeconds;
  for (const SpoolJob& job : ended) {
    if (job.state != JobState::kEnded || !job.exactCounts || !job.pagesPrinted) continue;
    if (job.endedAt && LocalSeconds(*job.endedAt) < LocalSeconds(entered.since)) continue;
    const uint32_t final = *job.pagesPrinted;
    if (const EnteredJob* entries = EntriesOf(entered, job)) {
      if (final > entries->pages) missed.push_back({job, final - entries->pages});
      continue;
    }
    bool unwatched = false;
    if (entered.watchedSince) {
      unwatched = job.endedAt && LocalSeconds(*job.endedAt) >= LocalSeconds(*entered.watchedSince);
    } else {
      unwatched = job.id > entered.highestId ||
                  (job.endedAt && LocalSeconds(*job.endedAt) >= recent);
    }
    if (unwatched) missed.push_back({job, final});
  }
  return missed;
}

}  // namespace pelko
