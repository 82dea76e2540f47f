#include "agent/platform/win32/spooler/job_journal.h"

#include <algorithm>
#include <set>

namespace pelko {

namespace {

// A watcher that has not listed for this many of its own listings cannot
// still be waiting for a late notification of a job it told.
constexpr uint64_t kToldKeptListings = 256;

// What news tells of how the job asked to be printed, over what was known:
// a notification tells only some of it.
void OverlayDetails(const JobDetails& news, JobDetails* details) {
  if (news.copies != 0) details->copies = news.copies;
  for (auto [from, to] :
       {std::pair{&news.sides, &details->sides}, std::pair{&news.paper, &details->paper},
        std::pair{&news.colorMode, &details->colorMode},
        std::pair{&news.client, &details->client}}) {
    if (!from->empty()) *to = *from;
  }
  if (news.paperWidth != 0) details->paperWidth = news.paperWidth;
  if (news.paperLength != 0) details->paperLength = news.paperLength;
  if (news.sizeBytes != 0) details->sizeBytes = news.sizeBytes;
  if (news.printerColor) details->printerColor = news.printerColor;
}

void Overlay(const SpoolerJobNote& news, SpoolerJobNote* record) {
  if (OtherJob(news.submittedAt, record->submittedAt)) {
    *record = news;  // nothing of the job before it under the id is its own
    return;
  }
  if (news.submittedAt != 0) record->submittedAt = news.submittedAt;
  if (news.user) record->user = news.user;
  if (news.document) record->document = news.document;
  if (news.status) record->status = news.status;
  // A job's count only rises; a late or reordered report must not lower it.
  if (news.pages) record->pages = std::max(news.pages.value(), record->pages.value_or(0));
  if (news.details) {
    if (!record->details) record->details.emplace();
    OverlayDetails(*news.details, &*record->details);
  }
}

SpoolJob ToSpoolJob(const SpoolerJobNote& record, bool countsPages) {
  SpoolJob job;
  job.id = record.id;
  job.user = record.user;
  job.document = record.document;
  job.submittedAt = record.submittedAt;
  job.details = record.details.value_or(JobDetails{});
  job.state =
      (record.status.value_or(0) & kWinJobPrinting) != 0 ? JobState::kPrinting : JobState::kWaiting;
  if (countsPages) job.pagesPrinted = record.pages.value_or(0);
  return job;
}

// An ended job's last fields: those of the last listing that had it, then
// what the spooler's list and the journal say of it now.
SpoolJob Ended(uint32_t id, const SpoolJob* last, const SpoolerJobNote* queued,
               const SpoolerJobNote* news, bool countsPages) {
  SpoolerJobNote record;
  record.id = id;
  if (last != nullptr) {
    record.user = last->user;
    record.document = last->document;
    record.pages = last->pagesPrinted;
    record.submittedAt = last->submittedAt;
    record.details = last->details;
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

std::vector<uint32_t> DetailsBook::Fill(std::vector<SpoolerJobNote>* queued) {
  std::map<uint32_t, Kept> listed;
  std::vector<uint32_t> missing;
  for (SpoolerJobNote& record : *queued) {
    auto at = kept.find(record.id);
    if (at == kept.end() || OtherJob(at->second.submittedAt, record.submittedAt)) {
      missing.push_back(record.id);
      continue;
    }
    record.details = at->second.details;
    listed.insert(*at);
  }
  kept = std::move(listed);
  return missing;
}

void DetailsBook::Keep(const SpoolerJobNote& job, const JobDetails& details) {
  kept[job.id] = Kept{job.submittedAt, details};
}

void TellJobs(const std::vector<SpoolerJobNote>& queued,
              const std::map<uint32_t, SpoolerJobNote>& news, const std::vector<uint32_t>& before,
              bool countsPages, uint64_t until, Win32JobCursor* cursor,
              std::vector<SpoolJob>* jobs) {
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

  // Done with now: finished while still in the queue, or gone from it as
  // the journal saw; and the last listing's jobs that are no longer there,
  // also those whose id another job has taken.
  std::set<uint32_t> endsNow;
  for (const SpoolerJobNote& record : queued) {
    if (IsFinished(record)) endsNow.insert(record.id);
  }
  for (uint32_t id : before) {
    if (listed.count(id) == 0) endsNow.insert(id);
  }
  std::set<uint32_t> ended = endsNow;
  for (const auto& [id, job] : cursor->listed) {
    auto now = listed.find(id);
    if (now == listed.end() || OtherJob(job.submittedAt, now->second.submittedAt)) ended.insert(id);
  }
  auto tell = [&](SpoolJob job) {
    auto at = cursor->told.find(job.id);
    const bool again =
        at != cursor->told.end() && !OtherJob(at->second.submittedAt, job.submittedAt);
    // Kept while the spooler may still speak of it: a late notification
    // must not tell it again.
    cursor->told[job.id] = Win32JobCursor::Told{job.submittedAt, cursor->listings};
    // A new cursor starts from now: what is done with already is not news.
    if (!again && !newCursor) jobs->push_back(std::move(job));
  };
  for (uint32_t id : ended) {
    auto queuedAt = inQueue.find(id);
    auto newsAt = news.find(id);
    const SpoolerJobNote* inList = queuedAt != inQueue.end() ? queuedAt->second : nullptr;
    const SpoolerJobNote* heard = newsAt != news.end() ? &newsAt->second : nullptr;
    auto lastAt = cursor->listed.find(id);
    const SpoolJob* last = lastAt != cursor->listed.end() ? &lastAt->second : nullptr;
    const int64_t submittedNow = inList != nullptr && inList->submittedAt != 0 ? inList->submittedAt
                                 : heard != nullptr                            ? heard->submittedAt
                                                                               : 0;
    if (last != nullptr && OtherJob(last->submittedAt, submittedNow)) {
      // The last listing's job left, and another took its id: each is told
      // with its own fields.
      tell(Ended(id, last, nullptr, nullptr, countsPages));
      if (endsNow.count(id) == 0) continue;
      last = nullptr;
    }
    tell(Ended(id, last, inList, heard, countsPages));
  }
  for (auto at = cursor->told.begin(); at != cursor->told.end();) {
    const bool stillSeen = inQueue.count(at->first) != 0 || news.count(at->first) != 0;
    if (stillSeen) at->second.listing = cursor->listings;
    if (cursor->listings - at->second.listing > kToldKeptListings) {
      at = cursor->told.erase(at);
    } else {
      ++at;
    }
  }
  cursor->listed = std::move(listed);
  cursor->position = until;
}

}  // namespace pelko
