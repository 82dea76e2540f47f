#include "agent/monitor/page_ledger.h"

#include <algorithm>
#include <set>

namespace pelko {

void PageLedger::Restart(const std::vector<SpoolJob>& listed,
                         const std::map<uint32_t, uint32_t>& entered) {
  jobs.clear();
  lastPrinting.reset();
  unclaimed = 0;
  Learn(listed);
  std::set<uint32_t> finalCounts;
  for (const SpoolJob& job : listed) {
    if (job.exactCounts) finalCounts.insert(job.id);
  }
  for (auto& [id, job] : jobs) {
    if (finalCounts.count(id)) {
      auto at = entered.find(id);
      job.credited = at != entered.end() ? at->second : 0;
      job.entered = at != entered.end();
      continue;
    }
    job.credited = job.printed.value_or(0);
    job.countFromBeforeStart = !job.printed;
  }
  // Jobs that ended before the start are no business of this run.
  std::erase_if(jobs, [](const auto& item) { return item.second.ended; });
}

PageLedger::Job& PageLedger::Note(const SpoolJob& listed) {
  auto [at, fresh] = jobs.try_emplace(listed.id);
  if (!fresh && listed.submittedAt != 0 && at->second.submittedAt != 0 &&
      listed.submittedAt != at->second.submittedAt) {
    // The id given again (a spooler that numbers from 1 again): another job,
    // which owes nothing of the earlier one's count.
    Forget(at);
    settled.erase(listed.id);
    at = jobs.try_emplace(listed.id).first;
    fresh = true;
  }
  Job& job = at->second;
  if (listed.submittedAt != 0) job.submittedAt = listed.submittedAt;
  if (fresh) {
    job.order = ++seen;
    auto before = listed.exactCounts ? settled.find(listed.id) : settled.end();
    if (before != settled.end()) {
      job.credited = before->second;
      job.entered = true;
    }
  }
  if (listed.user) job.user = *listed.user;
  if (listed.document) job.document = *listed.document;
  // A count never goes back: a backend may report less again, but what was
  // printed stays printed.
  if (listed.pagesPrinted) {
    job.printed = std::max(job.printed.value_or(0), *listed.pagesPrinted);
    if (job.countFromBeforeStart) job.credited = *job.printed;
    job.countFromBeforeStart = false;
  }
  if (listed.exactCounts) countsPerJob = true;
  if (listed.state == JobState::kEnded) {
    job.ended = true;
    if (listed.exactCounts && listed.pagesPrinted) job.final = true;
  }
  if (listed.state == JobState::kPrinting) {
    lastPrinting = PageShare{listed.id, listed.user.value_or(""), listed.document.value_or(""), 0};
  }
  return job;
}

void PageLedger::Learn(const std::vector<SpoolJob>& listed) {
  std::set<uint32_t> present;
  for (const SpoolJob& job : listed) {
    Note(job);
    present.insert(job.id);
  }
  for (auto& [id, job] : jobs) {
    if (!present.count(id)) job.ended = true;
  }
  KeepBounded();
}

uint32_t PageLedger::Owed(const Job& job) const {
  const uint32_t printed = job.printed.value_or(0);
  return printed > job.credited ? printed - job.credited : 0;
}

std::vector<PageShare> PageLedger::Share(uint32_t rise, const SpoolJob& passJob) {
  // The pass's job as its look listed it; what the pass's own listing said
  // of it since is newer, so only a job no longer known is taken in again.
  if (!jobs.count(passJob.id)) {
    Job& job = jobs[passJob.id];
    job.order = ++seen;
    job.user = passJob.user.value_or("");
    job.document = passJob.document.value_or("");
    job.ended = true;
  }
  std::map<uint32_t, uint32_t> pages;
  unclaimed += rise;

  std::vector<std::pair<uint64_t, uint32_t>> byOrder;
  for (const auto& [id, job] : jobs) byOrder.emplace_back(job.order, id);
  std::sort(byOrder.begin(), byOrder.end());
  for (const auto& [order, id] : byOrder) {
    Job& job = jobs[id];
    const uint32_t owed = Owed(job);
    const uint32_t given = job.ended && job.final
                               ? owed
                               : static_cast<uint32_t>(std::clamp<int64_t>(unclaimed, 0, owed));
    if (given == 0) continue;
    job.credited += given;
    pages[id] += given;
    unclaimed -= given;
  }
  if (unclaimed > 0 && !countsPerJob) {
    const uint32_t left = static_cast<uint32_t>(unclaimed);
    const uint32_t taker = lastPrinting ? lastPrinting->id : passJob.id;
    auto known = jobs.find(taker);
    if (known != jobs.end()) known->second.credited += left;
    pages[taker] += left;
    unclaimed = 0;
  }

  std::vector<PageShare> shares;
  auto add = [&](uint32_t id, uint32_t count) {
    auto known = jobs.find(id);
    if (known != jobs.end()) {
      known->second.entered = true;
      shares.push_back({id, known->second.user, known->second.document, count});
    } else {
      // Gone from the table already: only the last printing job can be.
      shares.push_back({id, lastPrinting->user, lastPrinting->document, count});
    }
  };
  for (const auto& [id, count] : pages) add(id, count);
  if (!pages.count(passJob.id)) add(passJob.id, 0);
  for (const auto& [order, id] : byOrder) {
    const Job& job = jobs[id];
    if (job.ended && !job.entered) add(id, 0);
  }
  ForgetSettled();
  return shares;
}

bool PageLedger::NeedsPass(const SpoolJob& listed) const {
  if (listed.state != JobState::kEnded) return true;
  auto known = jobs.find(listed.id);
  if (known == jobs.end()) return false;
  const Job& job = known->second;
  return !job.entered || (job.final && Owed(job) > 0);
}

std::optional<SpoolJob> PageLedger::OwedEndedJob() const {
  for (const auto& [id, job] : jobs) {
    if (!job.ended || !job.entered || Owed(job) == 0) continue;
    SpoolJob owed;
    owed.id = id;
    owed.user = job.user;
    owed.document = job.document;
    owed.state = JobState::kEnded;
    return owed;
  }
  return std::nullopt;
}

void PageLedger::ForgetSettled() {
  for (auto at = jobs.begin(); at != jobs.end();) {
    Job& job = at->second;
    const bool done =
        job.ended && job.entered && (Owed(job) == 0 || ++job.passesSinceEnd > kOwedPasses);
    if (done) {
      Forget(at++);
    } else {
      ++at;
    }
  }
}

void PageLedger::Settle(uint32_t id, uint32_t pages) {
  countsPerJob = true;
  auto at = jobs.find(id);
  if (at == jobs.end()) {
    RememberSettled(id, pages);
    return;
  }
  at->second.credited = std::max(at->second.credited, pages);
  at->second.entered = true;
}

void PageLedger::Forget(std::map<uint32_t, Job>::iterator at) {
  if (countsPerJob && at->second.entered) RememberSettled(at->first, at->second.credited);
  jobs.erase(at);
}

void PageLedger::RememberSettled(uint32_t id, uint32_t credited) {
  auto [at, fresh] = settled.try_emplace(id, credited);
  at->second = std::max(at->second, credited);
  if (!fresh) return;
  settledOrder.push_back(id);
  while (settledOrder.size() > kMaxJobs) {
    settled.erase(settledOrder.front());
    settledOrder.pop_front();
  }
}

void PageLedger::KeepBounded() {
  while (jobs.size() > kMaxJobs) {
    auto oldest = jobs.end();
    for (auto at = jobs.begin(); at != jobs.end(); ++at) {
      if (at->second.ended && (oldest == jobs.end() || at->second.order < oldest->second.order)) {
        oldest = at;
      }
    }
    if (oldest == jobs.end()) oldest = jobs.begin();
    Forget(oldest);
  }
}

}  // namespace pelko
