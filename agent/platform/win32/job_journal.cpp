#include "agent/platform/win32/job_journal.h"

#include <algorithm>
#include <set>

namespace pelko {

namespace {

// A watcher that has not listed for this many of its own listings cannot
// still be waiting for a late notification of a job it told.
constexpr uint64_t kToldKeptListings = 256;

void Overlay(const SpoolerJobNote& news, SpoolerJobNote* record) {
  if (news.user) record->user = news.user;
  if (news.document) record->document = news.document;
  if (news.status) record->status = news.status;
  // A job's count only rises; a late or reordered report must not lower it.
  if (news.pages) record->pages = std::max(news.pages.value(), record->pages.value_or(0));
}

SpoolJob ToSpoolJob(const SpoolerJobNote& record, bool countsPages) {
  SpoolJob job;
  job.id = record.id;
  job.user = record.user;
  job.document = record.document;
  job.state = (record.status.value_or(0) & kWinJobPrinting) != 0 ? JobState::kPrinting
                                                                     : JobState::kWaiting;
  if (countsPages) job.pagesPrinted = record.pages.value_or(0);
  return job;
}

// An ended job's last fields: those of the last listing that had it, then
// what the spooler's list and the journal say of it now.
SpoolJob Ended(uint32_t id, const Win32JobCursor& cursor, const SpoolerJobNote* queued,
               const SpoolerJobNote* news, bool countsPages) {
  SpoolerJobNote record;
  record.id = id;
  auto listed = cursor.listed.find(id);
  if (listed != cursor.listed.end()) {
    record.user = listed->second.user;
    record.document = listed->second.document;
    record.pages = listed->second.pagesPrinted;
  }
  if (queued != nullptr) Overlay(*queued, &record);
  if (news != nullptr) Overlay(*news, &record);
  SpoolJob job = ToSpoolJob(record, countsPages);
  job.state = JobState::kEnded;
  return job;
}

}  // namespace

bool IsFinished(const SpoolerJobNote& record) {
  // Not JOB_STATUS_COMPLETE: all sent to the printer, which may still be
  // printing and counting.
  return (record.status.value_or(0) & (kWinJobPrinted | kWinJobDeleted)) != 0;
}

void JobJournal::Learn(uint64_t seq, const SpoolerJobNote& news) {
  Known& job = known[news.id];
  job.record.id = news.id;
  Overlay(news, &job.record);
  job.lastSeq = seq;
  if (job.record.pages.value_or(0) > 0) countsPages = true;
  entries.push_back(Entry{seq, news.id});
  while (entries.size() > kCapacity) {
    const Entry& oldest = entries.front();
    if (known[oldest.id].lastSeq == oldest.seq) known.erase(oldest.id);
    entries.pop_front();
  }
}

void JobJournal::Read(uint64_t from, uint64_t until, std::map<uint32_t, SpoolerJobNote>* records,
                      std::vector<uint32_t>* before) const {
  records->clear();
  before->clear();
  for (const Entry& entry : entries) {
    if (entry.seq < from) continue;
    records->emplace(entry.id, known.at(entry.id).record);
    if (entry.seq < until) before->push_back(entry.id);
  }
}

void TellJobs(const std::vector<SpoolerJobNote>& queued, const std::map<uint32_t, SpoolerJobNote>& news,
              const std::vector<uint32_t>& before, bool countsPages, uint64_t until,
              Win32JobCursor* cursor, std::vector<SpoolJob>* jobs) {
  jobs->clear();
  const bool newCursor = cursor->listings == 0;
  ++cursor->listings;
  std::map<uint32_t, SpoolJob> listed;
  std::map<uint32_t, const SpoolerJobNote*> inQueue;
  for (const SpoolerJobNote& record : queued) {
    inQueue[record.id] = &record;
    if (IsFinished(record)) continue;
    jobs->push_back(ToSpoolJob(record, countsPages));
    listed[record.id] = jobs->back();
  }

  // Left the queue, or done with while still in it: the last listing's,
  // those finished now, and those only the journal saw.
  std::set<uint32_t> ended;
  for (const auto& [id, job] : cursor->listed) {
    if (listed.count(id) == 0) ended.insert(id);
  }
  for (const SpoolerJobNote& record : queued) {
    if (IsFinished(record)) ended.insert(record.id);
  }
  for (uint32_t id : before) {
    if (listed.count(id) == 0) ended.insert(id);
  }
  for (uint32_t id : ended) {
    const bool told = cursor->told.count(id) != 0;
    // Kept while the spooler may still speak of it: a late notification
    // must not tell it again.
    cursor->told[id] = cursor->listings;
    // A new cursor starts from now: what is done with already is not news.
    if (told || newCursor) continue;
    auto queuedAt = inQueue.find(id);
    auto newsAt = news.find(id);
    jobs->push_back(Ended(id, *cursor, queuedAt != inQueue.end() ? queuedAt->second : nullptr,
                          newsAt != news.end() ? &newsAt->second : nullptr, countsPages));
  }
  for (auto at = cursor->told.begin(); at != cursor->told.end();) {
    const bool stillSeen = inQueue.count(at->first) != 0 || news.count(at->first) != 0;
    if (stillSeen) at->second = cursor->listings;
    if (cursor->listings - at->second > kToldKeptListings) {
      at = cursor->told.erase(at);
    } else {
      ++at;
    }
  }
  cursor->listed = std::move(listed);
  cursor->position = until;
}

}  // namespace pelko
