#include "tests/fakes/fake_spooler.h"

#include <algorithm>

namespace pelko {

namespace {

struct FakeCursor : JobCursor {
  std::size_t journalRead = 0;
};

SpoolStatus TakeFailure(std::vector<SpoolStatus>* failures) {
  if (failures->empty()) return SpoolStatus::kOk;
  const SpoolStatus failure = failures->front();
  failures->erase(failures->begin());
  return failure;
}

}  // namespace

FakeSpooler::Queue* FakeSpooler::Find(const std::string& queue) {
  auto found = queues.find(queue);
  return found != queues.end() ? &found->second : nullptr;
}

SpoolJob FakeSpooler::Told(const Queue& queue, const Job& job, JobState state) const {
  SpoolJob told;
  told.id = job.names.id;
  told.user = job.names.user;
  told.document = job.names.document;
  told.submittedAt = job.names.submittedAt;
  told.details = job.names.details;
  told.documentsIncoming = job.names.documentsIncoming;
  if (queue.countsPerJob) {
    told.state = state;
    told.pagesPrinted = job.printed;
    told.exactCounts = queue.finalCounts;
    told.createdAt = job.names.createdAt;
    if (state == JobState::kEnded) told.endedAt = job.endedAt;
  } else {
    told.state = state == JobState::kEnded ? JobState::kEnded : JobState::kWaiting;
  }
  return told;
}

SpoolStatus FakeSpooler::ListJobs(const std::string& name, std::unique_ptr<JobCursor>* cursor,
                                  std::vector<SpoolJob>* jobs) {
  if (onList) onList(name);
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("list " + name);
  jobs->clear();
  if (listFailure != SpoolStatus::kOk) return listFailure;
  Queue* queue = Find(name);
  if (queue == nullptr) return SpoolStatus::kNoQueue;
  for (const Job& job : queue->jobs) {
    jobs->push_back(Told(*queue, job, job.printing ? JobState::kPrinting : JobState::kWaiting));
  }
  if (!*cursor) {
    auto fresh = std::make_unique<FakeCursor>();
    fresh->journalRead = queue->ended.size();
    *cursor = std::move(fresh);
  }
  auto* at = static_cast<FakeCursor*>(cursor->get());
  for (std::size_t i = at->journalRead; i < queue->ended.size(); ++i) {
    jobs->push_back(Told(*queue, queue->ended[i], JobState::kEnded));
  }
  at->journalRead = queue->ended.size();
  return SpoolStatus::kOk;
}

SpoolStatus FakeSpooler::ReadPageTotal(const std::string& name, uint32_t* total) {
  if (onTotal) onTotal(name);
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("total " + name);
  const SpoolStatus failure = TakeFailure(&totalFailures);
  if (failure != SpoolStatus::kOk) return failure;
  Queue* queue = Find(name);
  if (queue == nullptr) return SpoolStatus::kNoQueue;
  *total = queue->total;
  return SpoolStatus::kOk;
}

void FakeSpooler::SetJobs(const std::string& name, std::vector<FakeJob> jobs) {
  std::lock_guard<std::mutex> lock(mutex);
  Queue& queue = queues[name];
  queue.jobs.clear();
  for (FakeJob& job : jobs) queue.jobs.push_back(Job{std::move(job), false, 0, std::nullopt});
}

void FakeSpooler::RemoveQueue(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  queues.erase(name);
}

void FakeSpooler::CountFinalPages(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  queues[name].finalCounts = true;
  keepsEndedJobs = true;
}

void FakeSpooler::CountNoJobPages(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  queues[name].countsPerJob = false;
}

void FakeSpooler::CountPagesAgain(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  queues[name].countsPerJob = true;
}

void FakeSpooler::Submit(const std::string& name, FakeJob job) {
  std::lock_guard<std::mutex> lock(mutex);
  queues[name].jobs.push_back(Job{std::move(job), false, 0, std::nullopt});
}

void FakeSpooler::Print(const std::string& name, uint32_t id, uint32_t pages) {
  std::lock_guard<std::mutex> lock(mutex);
  Queue& queue = queues[name];
  for (Job& job : queue.jobs) {
    job.printing = job.names.id == id;
    if (job.printing) job.printed += pages;
  }
  queue.total += pages;
}

void FakeSpooler::DocumentsIn(const std::string& name, uint32_t id) {
  std::lock_guard<std::mutex> lock(mutex);
  for (Job& job : queues[name].jobs) {
    if (job.names.id == id) job.names.documentsIncoming = false;
  }
}

SpoolStatus FakeSpooler::ListEndedJobs(const std::string& name, std::size_t limit,
                                       std::vector<SpoolJob>* jobs) {
  std::lock_guard<std::mutex> lock(mutex);
  jobs->clear();
  ++historyAsked[name];
  if (historyFailure != SpoolStatus::kOk) return historyFailure;
  Queue* queue = Find(name);
  if (queue == nullptr) return SpoolStatus::kNoQueue;
  if (!queue->finalCounts) return SpoolStatus::kOk;
  const std::size_t first = queue->ended.size() > limit ? queue->ended.size() - limit : 0;
  for (std::size_t i = first; i < queue->ended.size(); ++i) {
    jobs->push_back(Told(*queue, queue->ended[i], JobState::kEnded));
  }
  return SpoolStatus::kOk;
}

int FakeSpooler::HistoryAsked(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  return historyAsked[name];
}

void FakeSpooler::End(const std::string& name, uint32_t id, std::optional<LocalTime> at) {
  std::lock_guard<std::mutex> lock(mutex);
  Queue& queue = queues[name];
  auto found = std::find_if(queue.jobs.begin(), queue.jobs.end(),
                            [id](const Job& job) { return job.names.id == id; });
  if (found == queue.jobs.end()) return;
  found->printing = false;
  found->endedAt = at;
  queue.ended.push_back(*found);
  queue.jobs.erase(found);
}

void FakeSpooler::SetTotal(const std::string& name, uint32_t total) {
  std::lock_guard<std::mutex> lock(mutex);
  queues[name].total = total;
}

uint32_t FakeSpooler::Total(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  return queues[name].total;
}

std::vector<std::string> FakeSpooler::Calls() {
  std::lock_guard<std::mutex> lock(mutex);
  return calls;
}

void FakeSpooler::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex);
  calls.clear();
}

void FakeSpooler::FailTotals(std::vector<SpoolStatus> failures) {
  std::lock_guard<std::mutex> lock(mutex);
  totalFailures = std::move(failures);
}

void FakeSpooler::AddChangeSignal(const std::string& name, Signal* changed) {
  std::lock_guard<std::mutex> lock(mutex);
  changeSignals.emplace(name, changed);
}

void FakeSpooler::RemoveChangeSignal(const std::string& name, Signal* changed) {
  std::lock_guard<std::mutex> lock(mutex);
  auto [first, last] = changeSignals.equal_range(name);
  for (auto at = first; at != last; ++at) {
    if (at->second == changed) {
      changeSignals.erase(at);
      return;
    }
  }
}

uint32_t FakeSpooler::QuietMs(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  auto found = quiet.find(name);
  return found != quiet.end() ? found->second : 0;
}

void FakeSpooler::SetQuiet(const std::string& printer, uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex);
  quiet[printer] = ms;
}

void FakeSpooler::Change(const std::string& printer) {
  std::lock_guard<std::mutex> lock(mutex);
  auto [first, last] = changeSignals.equal_range(printer);
  for (auto at = first; at != last; ++at) at->second->Set();
}

int FakeSpooler::ChangeSignals(const std::string& printer) {
  std::lock_guard<std::mutex> lock(mutex);
  return static_cast<int>(changeSignals.count(printer));
}

}  // namespace pelko
