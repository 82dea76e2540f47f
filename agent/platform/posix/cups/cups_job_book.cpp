// The page counter: for every job we keep the highest count CUPS ever
// reported (a backend can set it lower again, and a scheduler restarted
// during a job prints it again without starting its count anew), and what
// the jobs we stopped tracking gave stays in a sum of its own. So the
// counter only rises, across the scheduler forgetting jobs (MaxJobs) and
// across its restarts, for as long as the agent runs; it starts with the
// jobs in the queue when the agent begins to watch it.
#include "agent/platform/posix/cups/cups_job_book.h"

#include <cups/ipp.h>

#include <algorithm>
#include <set>

namespace pelko {

namespace {

// Jobs no longer tracked are remembered for a while, so that one listed
// again (a completed job restarted) is not counted twice.
constexpr std::size_t kRememberedGone = 4096;
// Ended jobs kept for watchers that have not listed since.
constexpr std::size_t kKeptEnded = 4096;

std::string KeyOf(uint32_t id, const std::string& uuid) {
  return uuid.empty() ? "#" + std::to_string(id) : uuid;
}

SpoolJob ToSpoolJob(const CupsJob& job, JobState state, uint32_t pages, bool final = true) {
  SpoolJob spoolJob;
  spoolJob.id = job.id;
  spoolJob.user = job.user;
  spoolJob.document = job.title;
  spoolJob.state = state;
  spoolJob.pagesPrinted = pages;
  spoolJob.exactCounts = final;
  spoolJob.submittedAt = job.createdAt;
  spoolJob.details = job.details;
  spoolJob.documentsIncoming = job.incoming;
  return spoolJob;
}

}  // namespace

void CupsJobBook::Begin(const std::vector<CupsJob>& jobs, uint32_t highestEnded) {
  begun = true;
  highest = std::max(highest, highestEnded);
  Take(jobs, true, {});
}

bool CupsJobBook::LostSight(const std::vector<CupsJob>& jobs) const {
  for (const CupsJob& was : active) {
    if (std::none_of(jobs.begin(), jobs.end(),
                     [&](const CupsJob& job) { return job.id == was.id; })) {
      return true;
    }
  }
  return false;
}

CupsJobBook::Counted& CupsJobBook::Count(const CupsJob& job) {
  auto [slot, fresh] = counted.try_emplace(job.id);
  Counted& entry = slot->second;
  if (!fresh && !job.uuid.empty() && !entry.uuid.empty() && entry.uuid != job.uuid) {
    // The id was given again (a scheduler whose spool was wiped): another job.
    Retire(job.id, entry);
    entry = Counted();
    fresh = true;
  }
  if (fresh) {
    entry.uuid = job.uuid;
    auto back = gone.find(KeyOf(job.id, job.uuid));
    if (back != gone.end()) {
      // Tracked before, so told before: it was retired only once ended.
      forgotten -= back->second;
      entry.pages = back->second;
      entry.ended = true;
      entry.told = entry.pages;
      entry.toldFinal = true;
      gone.erase(back);
    }
  }
  entry.pages = std::max(entry.pages, job.pages);
  return entry;
}

void CupsJobBook::Retire(uint32_t id, const Counted& entry) {
  // Only the memory of the job goes; its pages stay in the sum.
  forgotten += entry.pages;
  const std::string key = KeyOf(id, entry.uuid);
  gone[key] = entry.pages;
  goneOrder.push_back(key);
  while (goneOrder.size() > kRememberedGone) {
    gone.erase(goneOrder.front());
    goneOrder.pop_front();
  }
}

void CupsJobBook::Told(const CupsJob& job, Counted& entry, bool final) {
  entry.told = entry.pages;
  entry.toldFinal = final;
  ended.emplace_back(++seq, ToSpoolJob(job, JobState::kEnded, entry.pages, final));
  if (ended.size() > kKeptEnded) ended.pop_front();
}

int CupsJobBook::Take(const std::vector<CupsJob>& jobs, bool askedEnded,
                      const std::vector<CupsJob>& finished) {
  std::set<uint32_t> wasActive;
  for (const CupsJob& job : active) wasActive.insert(job.id);

  int unseen = 0;
  std::set<uint32_t> endedNow;
  for (const CupsJob& job : finished) {
    highest = std::max(highest, job.id);
    // Below the floor and untracked: ended before we began, or long told.
    if (job.id < floor && counted.count(job.id) == 0) continue;
    Counted& entry = Count(job);
    endedNow.insert(job.id);
    // Told again where the history's count is newer than what was told: a
    // job that left our sight before CUPS had its final count.
    if (entry.ended && entry.toldFinal && entry.told >= entry.pages) continue;
    const bool toldBefore = entry.ended;
    entry.ended = true;
    Told(job, entry, true);
    if (!toldBefore && wasActive.count(job.id) == 0) ++unseen;
  }

  // Listed active before the completed jobs were asked for, a job may be in
  // both answers: it has ended.
  std::vector<CupsJob> now;
  std::set<uint32_t> activeNow;
  for (const CupsJob& job : jobs) {
    if (endedNow.count(job.id) != 0) continue;
    highest = std::max(highest, job.id);
    Counted& entry = Count(job);
    entry.ended = false;  // also a finished job that was restarted
    now.push_back(job);
    now.back().pages = entry.pages;
    activeNow.insert(job.id);
  }
  for (const CupsJob& job : active) {
    if (activeNow.count(job.id) != 0 || endedNow.count(job.id) != 0) continue;
    auto entry = counted.find(job.id);
    if (entry == counted.end() || entry->second.ended) continue;
    entry->second.ended = true;
    Told(job, entry->second, false);
  }
  active = std::move(now);

  // Only an answer for the ended jobs shows that no job below the highest
  // id seen came and went unseen (its push may yet come).
  uint32_t lowest = askedEnded ? highest + 1 : floor;
  for (const CupsJob& job : active) lowest = std::min(lowest, job.id);
  // Below the lowest job in the queue every tracked job has ended.
  for (auto entry = counted.begin(); entry != counted.end() && entry->first < lowest;) {
    Retire(entry->first, entry->second);
    entry = counted.erase(entry);
  }
  floor = lowest;
  return unseen;
}

uint32_t CupsJobBook::Total() const {
  int64_t sum = forgotten;
  for (const auto& [id, entry] : counted) sum += entry.pages;
  return static_cast<uint32_t>(sum);
}

std::vector<SpoolJob> CupsJobBook::Active() const {
  std::vector<SpoolJob> jobs;
  jobs.reserve(active.size());
  for (const CupsJob& job : active) {
    const JobState state =
        job.state == IPP_JSTATE_PROCESSING ? JobState::kPrinting : JobState::kWaiting;
    jobs.push_back(ToSpoolJob(job, state, job.pages));
  }
  return jobs;
}

void CupsJobBook::EndedAfter(uint64_t after, std::vector<SpoolJob>* jobs, uint64_t* last) const {
  for (const auto& [at, job] : ended) {
    if (at > after) jobs->push_back(job);
  }
  *last = seq;
}

void CupsJobBook::ForgetEndedUpTo(uint64_t upTo) {
  while (!ended.empty() && ended.front().first <= upTo) ended.pop_front();
}

}  // namespace pelko
