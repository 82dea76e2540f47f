// Watches one print queue. Every 20 ms it lists the queue's jobs and, for
// every job found, runs a pass: it waits for the queue's page counter, reads
// it, and hands its rise to the jobs that printed it (page_ledger.h), priced
// at the printer's cost per page, into the printer's daily log. Where the
// spooler tells of every change of an idle queue, the thread sleeps until
// one comes rather than wake for looks whose answer is known: that is most
// of what an idle queue costs.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "agent/logs/log_locks.h"
#include "agent/logs/record_job.h"
#include "agent/monitor/seen_jobs.h"
#include "agent/accounting/tariff.h"
#include "agent/monitor/catch_up.h"
#include "agent/monitor/ink_queue.h"
#include "agent/monitor/page_ledger.h"
#include "agent/monitor/page_pricer.h"
#include "agent/platform/spooler.h"
#include "agent/worker/worker_thread.h"

namespace pelko {

inline constexpr uint32_t kQueuePollMs = 20;
inline constexpr uint32_t kCounterWaitMs = 2000;
// Configured printers searched for this thread's name. The supervisor serves
// 49; a nPrinters beyond this is taken as this, so that a broken setting
// cannot keep a pass (and a stop waiting for it) busy for hours.
inline constexpr uint32_t kMaxSearchedPrinters = 1000;
// Entries that could not be written are tried again at most this often
// while no pass writes.
inline constexpr uint32_t kPendingRetryMs = 1000;
// The spooler's history is asked for again, after it could not be had or
// the spooler stopped answering, at most this often: it is the scheduler's
// dearest request, and one that merely timed out on a loaded machine missed
// nothing (the ended jobs are asked for as they end).
inline constexpr uint32_t kCatchUpRetryMs = 30000;

class PrinterThread : public WorkerThread {
 public:
  PrinterThread(const Env& env, LogLocks& logLocks)
      : WorkerThread(env), queueChanged(env.clock->NewSignal()), logLocks(logLocks) {}
  ~PrinterThread() { Stop(); }

  void Run() override;
  // One listing of the queue, and a pass for each job it found that needs one.
  void Look();
  // Reads the counter, shares its rise and writes the entries.
  void Pass(const SpoolJob& job);
  // Enters the jobs that ended while this queue was not watched, each with
  // the pages its entries lack, dated when it ended.
  void CatchUp();
  // True when the counter was read; its value is then in currentPageTotal.
  bool ReadPageTotal(uint32_t waitMs);
  // Pages and costs that could not be written yet, by job.
  std::size_t PendingJobs() const { return pending.size(); }
  // Whether measures of documents wait to be taken.
  bool MeasuresReady() const { return inkQueue && inkQueue->HasAnswers(); }

  // The queue watched; set by the owner while the thread is not running.
  void SetPrinterName(const std::string& name) { printerName = name; }
  const std::string& PrinterName() const { return printerName; }
  // The page counter as the last pass left it.
  uint32_t LastPageTotal() const { return lastPageTotal; }

 protected:
  // Where a pass hands a job to the log; false when it could not be written.
  virtual bool Record(const JobRecord& job);
  void OnStopRequested() override { queueChanged->Set(); }

 private:
  // Lists the queue into the ledger; false when the spooler could not.
  bool ListInto(std::vector<SpoolJob>* jobs);
  // What the logs and the pages pending hold of this printer's jobs.
  EnteredJobs ReadEntered() const;
  // The book of seen jobs of this printer, read once for it; saved
  // whenever it changed. False when it could not be saved.
  void LoadSeen();
  bool SaveSeen();
  // The job's entry in the log it goes to now, claimed in the book (and the
  // book saved) before it is written; false where it could not be saved.
  bool ClaimEntry(JobRecord* figures);
  // Remembers when the spooler took each job listed, for the book.
  void NoteSubmitted(const std::vector<SpoolJob>& jobs);
  // The printer's tariff; false while the agent is not to account.
  bool ReadPrices(Tariff* tariff) const;
  // Asks for the documents of the jobs listed to be measured for colour,
  // and takes in the measures that came: a job entered before its measure
  // gets its colour and cost put right.
  void MeasureDocuments(const std::vector<SpoolJob>& jobs);
  // Whether a job's colour changes anything: a colour price of its own, or
  // details in the logs.
  bool ColorMatters();
  void TakeMeasures();
  using PendingKey = std::tuple<std::string, int32_t, int64_t>;  // printer, job, submittedAt
  // Adds a job's figures to what it has pending.
  PendingKey Keep(const JobRecord& figures);
  // Writes what these jobs have pending; what fails stays for a later try.
  void TryEnter(const std::vector<PendingKey>& keys);
  void ReportPending(const JobRecord& figures);
  void RetryPending();
  // The pages a run of the agent before left pending, taken in once.
  void RestorePending();
  // What is pending, on disk as in memory; the file goes once nothing is.
  void SavePending();
  // After a look: sleeps for as long as the spooler vouches for its answer,
  // or until the queue changes or the thread is asked to stop.
  void SleepWhileQuiet();

  std::string printerName;
  uint32_t lastPageTotal = 0;
  uint32_t currentPageTotal = 0;
  PageLedger ledger;
  std::unique_ptr<JobCursor> cursor;
  // Kept across restarts of the thread: the figures belong to their jobs.
  std::map<PendingKey, JobRecord> pending;
  uint64_t pendingTriedAt = 0;
  bool pendingRestored = false;
  // The spooler stopped answering: it may have restarted, and jobs may have
  // ended untold in between.
  bool catchUpDue = false;
  uint64_t catchUpTriedAt = 0;
  std::string pendingSaved;  // the file's text as last written; empty: no file
  SeenJobs seen;
  std::string seenPrinter;                  // whose book `seen` is; empty: none read yet
  uint64_t seenSaved = 0;                   // the book's Changes() when last written
  std::map<uint32_t, int64_t> submittedOf;  // by job id, from the listings
  PagePricer pricer;
  bool colorMatters = false;
  uint64_t colorMattersAt = 0;
  // Set by the spooler when the queue may have changed, and on a stop.
  std::unique_ptr<Signal> queueChanged;

  LogLocks& logLocks;
  // Last: its thread, which sets queueChanged, goes first.
  std::unique_ptr<InkQueue> inkQueue;
};

}  // namespace pelko
