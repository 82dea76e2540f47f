// An in-memory spooler whose queues print: jobs are submitted, print pages
// (their own count and the queue's counter rise together), and end. Every
// job that ends is kept in the queue's journal, which cursors read from
// where their last listing left off.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/platform/spooler.h"

namespace pelko {

struct FakeJob {
  FakeJob(uint32_t id, std::optional<std::string> user = std::nullopt,
          std::optional<std::string> document = std::nullopt)
      : id(id), user(std::move(user)), document(std::move(document)) {}
  uint32_t id;
  std::optional<std::string> user;  // none: the spooler gives none
  std::optional<std::string> document;
  std::optional<LocalTime> createdAt;
  int64_t submittedAt = 0;
  JobDetails details{};
  bool documentsIncoming = false;
};

class FakeSpooler : public Spooler {
 public:
  SpoolStatus ListJobs(const std::string& queue, std::unique_ptr<JobCursor>* cursor,
                       std::vector<SpoolJob>* jobs) override;
  SpoolStatus ReadPageTotal(const std::string& queue, uint32_t* total) override;
  void AddChangeSignal(const std::string& name, Signal* changed) override;
  void RemoveChangeSignal(const std::string& name, Signal* changed) override;
  uint32_t QuietMs(const std::string& name) override;
  // The journal, where the queue counts final pages (CUPS's history).
  // Once a queue counts final pages (CUPS).
  bool KeepsEndedJobs() const override { return keepsEndedJobs; }
  SpoolStatus ListEndedJobs(const std::string& queue, std::size_t limit,
                            std::vector<SpoolJob>* jobs) override;

  // A queue with these jobs waiting in it (a queue that was there keeps its
  // counter and journal); printers without one are no queue.
  void SetJobs(const std::string& queue, std::vector<FakeJob> jobs);
  void RemoveQueue(const std::string& queue);
  // A queue whose spooler counts no pages per job and tells no states.
  void CountNoJobPages(const std::string& queue);
  void CountPagesAgain(const std::string& queue);
  // A queue whose ended jobs come with the spooler's final count (CUPS).
  void CountFinalPages(const std::string& queue);

  void Submit(const std::string& queue, FakeJob job);
  // The job prints: it is the one printing, its count and the counter rise.
  void Print(const std::string& queue, uint32_t id, uint32_t pages);
  // The last of the job's documents has come in.
  void DocumentsIn(const std::string& queue, uint32_t id);
  // The job leaves the queue (printed, cancelled); its last count is final.
  void End(const std::string& queue, uint32_t id, std::optional<LocalTime> at = std::nullopt);
  // The history is asked for: how often, and a failure to answer.
  int HistoryAsked(const std::string& queue);
  void FailHistory(SpoolStatus failure) { historyFailure = failure; }
  // Every listing answers this failure until kOk is given again.
  void FailLists(SpoolStatus failure) { listFailure = failure; }
  // The counter alone moves, as pages no job accounts for or a restart.
  void SetTotal(const std::string& queue, uint32_t total);
  uint32_t Total(const std::string& queue);

  // Every call, in order: "list QUEUE", "total QUEUE".
  std::vector<std::string> Calls();
  void ClearCalls();
  // The next readings of the counter fail with these, first to last.
  void FailTotals(std::vector<SpoolStatus> failures);
  // What QuietMs answers for a queue (0 when not set).
  void SetQuiet(const std::string& queue, uint32_t ms);
  // Sets every change signal added for the queue.
  void Change(const std::string& queue);
  int ChangeSignals(const std::string& queue);

  // Run (unlocked) at every call, before it is served.
  std::function<void(const std::string& queue)> onList;
  std::function<void(const std::string& queue)> onTotal;

 private:
  struct Job {
    FakeJob names;
    bool printing = false;
    uint32_t printed = 0;
    std::optional<LocalTime> endedAt;
  };
  struct Queue {
    std::vector<Job> jobs;
    std::vector<Job> ended;  // the journal
    uint32_t total = 0;
    bool countsPerJob = true;
    bool finalCounts = false;
  };
  SpoolJob Told(const Queue& queue, const Job& job, JobState state) const;
  Queue* Find(const std::string& queue);

  std::mutex mutex;
  std::map<std::string, Queue> queues;
  std::vector<std::string> calls;
  std::vector<SpoolStatus> totalFailures;
  std::map<std::string, uint32_t> quiet;
  std::map<std::string, int> historyAsked;
  SpoolStatus historyFailure = SpoolStatus::kOk;
  SpoolStatus listFailure = SpoolStatus::kOk;
  bool keepsEndedJobs = false;
  std::multimap<std::string, Signal*> changeSignals;
};

}  // namespace pelko
