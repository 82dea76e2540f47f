#include "agent/logs/record_job.h"

#include <vector>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"
#include "agent/util/unicode.h"

namespace pelko {

namespace {

// The day whose log takes the job now, and that log's path.
LocalTime LogDay(const Env& env, LogStore& store, const JobRecord& job, std::string* path) {
  const LocalTime today = env.clock->Now();
  if (job.onStampDay && FormatFileDate(job.stamp) < FormatFileDate(today)) {
    // A day's log is not made after the day: the purge and the global log
    // may be done with it. Nor is one of a day to come written to.
    *path = store.DailyLogPath(job.printerName, job.stamp);
    if (env.files->Exists(*path)) return job.stamp;
  }
  *path = store.DailyLogPath(job.printerName, today);
  return today;
}

int32_t Plus(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// The details an entry is written with: the job's, its colour and mono
// pages added to those the entry held (an entry that held none counts its
// earlier pages mono); what the job does not tell stays as the entry had it.
struct DetailTexts {
  std::string copies, colorPages, monoPages;
  EntryDetails view;
  DetailTexts(const JobRecord& job, const LogEntry* own) {
    int32_t color = job.colorPages;
    // Figures that tell no split (kept by an earlier version) are mono.
    int32_t mono = color == 0 && job.monoPages == 0 ? job.pages : job.monoPages;
    view = {{}, {}, {}, job.sides, job.paper, job.client, job.colorFrom};
    copies = std::to_string(job.copies);
    if (own != nullptr && own->hasDetails) {
      const EntryDetails& held = own->details;
      color = Plus(color, LeadingInt(held.colorPages));
      mono = Plus(mono, LeadingInt(held.monoPages));
      if (job.copies == 0) copies = std::string(held.copies);
      for (auto [mine, theirs] : {std::pair{&view.sides, held.sides},
                                  {&view.paper, held.paper},
                                  {&view.client, held.client},
                                  {&view.colorFrom, held.colorFrom}}) {
        if (mine->empty()) *mine = theirs;
      }
    } else if (own != nullptr) {
      mono = Plus(mono, EntryPages(*own));
    }
    colorPages = std::to_string(color);
    monoPages = std::to_string(mono);
    view.copies = copies;
    view.colorPages = colorPages;
    view.monoPages = monoPages;
  }
  DetailTexts(const DetailTexts&) = delete;
};

}  // namespace

std::string LogDayOf(const Env& env, const JobRecord& job) {
  LogStore store(env);
  std::string path;
  return FormatFileDate(LogDay(env, store, job, &path));
}

namespace {

// The old text of the log at path, to be rewritten: false where the file is
// there but could not be read, which leaves it as it was rather than
// rewritten from nothing. *exists: there was a file read.
bool ReadForRewrite(const Env& env, LogStore& store, const Waiter& pause, const std::string& path,
                    std::string* old, bool* exists) {
  FileStatus read = store.ReadPatiently(path, pause, old);
  // Someone who may write the logs folder put something of theirs at the
  // day's name: it is neither taken in nor allowed to stop the recording.
  if ((read == FileStatus::kNotOurs || read == FileStatus::kNotRegular) && store.MoveAside(path)) {
    read = FileStatus::kMissing;
  }
  if (read != FileStatus::kOk && read != FileStatus::kMissing) {
    // Too large or no regular file: the store has said so already, and a
    // second line under the same key would double its count of repeats.
    if (read != FileStatus::kTooLarge && read != FileStatus::kNotRegular &&
        read != FileStatus::kNotOurs) {
      SayTrouble(env, Severity::kWarning, "read " + path, "cannot read the daily log " + path);
    }
    return false;
  }
  if (read == FileStatus::kMissing) old->clear();
  *exists = read == FileStatus::kOk;
  return true;
}

// Adds the job's figures to its entry in the log file at path (or a new
// entry), with or without its details.
bool RecordInto(const Env& env, LogStore& store, const Waiter& pause, const std::string& path,
                const LocalTime& day, const JobRecord& job, bool withDetails) {
  std::string old;
  bool exists = false;
  if (!ReadForRewrite(env, store, pause, path, &old, &exists)) return false;
  const bool namesUtf8 = env.spooler != nullptr && env.spooler->NamesUtf8();
  const std::string text = LogWithJob(old, day, job, namesUtf8, withDetails);
  if (exists && text == old) return true;
  if (store.ReplacePatiently(path, text, pause) == FileStatus::kOk) return true;
  SayTrouble(env, Severity::kWarning, "write " + path, "cannot write the daily log " + path);
  return false;
}

// The job's first entry: dated as the book of seen jobs claims it, else
// by its stamp.
void AppendNewEntry(std::string& text, const JobRecord& job, const std::string& idText,
                    bool withDetails) {
  const std::string_view stamp = job.entryStamp;
  const std::size_t space = stamp.find(' ');
  const bool claimed = space != std::string_view::npos;
  const std::string date = claimed ? std::string(stamp.substr(0, space)) : FormatLogDate(job.stamp);
  const std::string time =
      claimed ? std::string(stamp.substr(space + 1)) : FormatLogTime(job.stamp);
  const std::string pages = std::to_string(job.pages), cost = std::to_string(job.cost);
  const DetailTexts details(job, nullptr);
  AppendJobEntry(text, {date, time, idText, job.userName, job.printerName, job.documentName, pages,
                        cost, withDetails, withDetails ? details.view : EntryDetails{}});
}

}  // namespace

std::string LogWithJob(std::string_view old, const LocalTime& day, const JobRecord& given,
                       bool namesUtf8, bool withDetails) {
  // A day's log keeps the encoding it was begun in, whatever LogUtf8 says
  // now; the names come in the spooler's.
  const bool fileUtf8 = !old.empty() ? DeclaresUtf8(old) : namesUtf8;
  JobRecord moved;
  if (fileUtf8 != namesUtf8) {
    moved = given;
    for (std::string* text : {&moved.printerName, &moved.userName, &moved.documentName,
                              &moved.sides, &moved.paper, &moved.client}) {
      *text = LogTextBetween(*text, namesUtf8, fileUtf8);
    }
  }
  const JobRecord& job = fileUtf8 != namesUtf8 ? moved : given;

  std::vector<LogEntry> entries;
  entries.reserve(old.size() / 160 + 1);
  ReadLogEntries(old, &entries);

  const std::string idText = std::to_string(job.jobId);
  const std::string printer = CleanLogText(job.printerName);
  const std::string user = CleanLogText(job.userName);
  // A job is seen by every pass while it stays in the queue; each pass adds
  // the pages that the counter rose by since the last one, to the job's own
  // entry: printers of one short name share the file, and an id given
  // again names another job, whose entry stands in front of the earlier.
  auto isOwn = [&](const LogEntry& entry) {
    if (entry.id != idText || entry.printer != printer) return false;
    if (job.entryStamp.empty()) return entry.user == user;
    return job.entryStamp.size() == entry.date.size() + 1 + entry.time.size() &&
           job.entryStamp.compare(0, entry.date.size(), entry.date) == 0 &&
           job.entryStamp.compare(entry.date.size() + 1, std::string::npos, entry.time) == 0;
  };
  const LogEntry* own = nullptr;
  uint32_t total = 0;
  for (const LogEntry& entry : entries) {
    if (own == nullptr && isOwn(entry)) own = &entry;
    total += static_cast<uint32_t>(EntryCost(entry));
  }
  total += static_cast<uint32_t>(job.cost);

  std::string text = DailyLogHead(job.printerName, day, fileUtf8);
  text.reserve(text.size() + old.size() + 512);
  if (own == nullptr) AppendNewEntry(text, job, idText, withDetails);
  {
    EntryAppender appender(text);
    for (const LogEntry& entry : entries) {
      if (&entry == own) {
        // Details once written are kept up, whatever the setting says now.
        const DetailTexts details(job, own);
        appender.AddChanged(entry, Plus(EntryPages(entry), job.pages),
                            Plus(EntryCost(entry), job.cost),
                            withDetails || entry.hasDetails ? &details.view : nullptr);
      } else {
        appender.Add(entry);
      }
    }
  }
  AppendTotalEntry(text, static_cast<int32_t>(total));
  text += kLogFooter;
  return text;
}

bool RecordJob(const Env& env, LogLocks& locks, const Waiter& pause, const JobRecord& job) {
  LogStore store(env);
  // One date for the whole pass: a pass that straddles midnight reads and
  // writes the same file.
  std::string path;
  const LocalTime day = LogDay(env, store, job, &path);

  // Printers with one short name share the file; no pass of theirs may
  // interleave with another. The twin goes under the same lock.
  auto lock = locks.Lock(path);
  const bool withDetails = RegistryDwordValue(*env.registry, settings::kLogJobDetails).Get() == 1;
  if (!RecordInto(env, store, pause, path, day, job, withDetails)) return false;
  // The database always gets the details; where the log leaves them out,
  // its twin keeps them for it.
  if (!withDetails &&
      !RegistryStringValue(*env.registry, settings::kDatabaseConnection).Read().empty()) {
    RecordInto(env, store, pause, DetailsTwinOf(path), day, job, true);
  }
  return true;
}

}  // namespace pelko
