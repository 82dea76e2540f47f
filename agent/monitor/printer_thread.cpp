#include "agent/monitor/printer_thread.h"

#include <algorithm>
#include <optional>
#include <set>

#include "agent/accounting/page_color.h"
#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/logs/record_job.h"
#include "agent/monitor/pending_pages.h"
#include "agent/monitor/seen_jobs.h"

namespace pelko {

namespace {

const char* Describe(SpoolStatus status) {
  switch (status) {
    case SpoolStatus::kOk:
      return "ok";
    case SpoolStatus::kNoQueue:
      return "the spooler has no such queue";
    case SpoolStatus::kUnavailable:
      return "the spooler does not answer";
    case SpoolStatus::kFailed:
      return "the spooler refused";
  }
  return "unknown";
}

}  // namespace

void PrinterThread::Run() {
  Spooler& spooler = *env.spooler;
  // A cursor of an earlier run may be for another printer.
  cursor.reset();
  LoadSeen();
  if (ReadPageTotal(0)) lastPageTotal = currentPageTotal;
  std::vector<SpoolJob> jobs;
  // The cursor is made before the history is asked: a job that ends in
  // between is told by both, and the ledger, settled, credits it once.
  if (spooler.ListJobs(printerName, &cursor, &jobs) != SpoolStatus::kOk) jobs.clear();
  NoteSubmitted(jobs);
  RestorePending();
  // Where the spooler counts each job's final pages, a job in the queue now
  // is owed all its entries lack, also what it printed while nobody watched.
  // With no book yet, the jobs in the queue go on in the entries the logs
  // hold under their ids.
  std::map<uint32_t, uint32_t> enteredPages;
  const bool counted =
      std::any_of(jobs.begin(), jobs.end(), [](const SpoolJob& job) { return job.exactCounts; });
  if (counted || (!seen.Known() && !jobs.empty())) {
    const EnteredJobs entered = ReadEntered();
    for (const SpoolJob& job : jobs) {
      const std::optional<uint32_t> billed = BilledPages(seen, entered, job);
      if (billed && !seen.Known()) ClaimUnclaimedEntries(entered, IdentityOf(job), &seen);
      if (billed && job.exactCounts) enteredPages[job.id] = *billed;
    }
  }
  ledger.Restart(jobs, enteredPages);
  pricer.Learn(jobs);
  for (const SpoolJob& job : jobs) {
    auto entered = enteredPages.find(job.id);
    if (entered != enteredPages.end()) pricer.Entered(job.id, job.submittedAt, entered->second);
  }
  MeasureDocuments(jobs);
  CatchUp();

  struct Registration {
    Spooler& spooler;
    const std::string& name;
    Signal* changed;
    ~Registration() { spooler.RemoveChangeSignal(name, changed); }
  } registration{spooler, printerName, queueChanged.get()};
  spooler.AddChangeSignal(printerName, queueChanged.get());

  for (;;) {
    // Reset before the look: a change during it makes the sleep end at once.
    queueChanged->Reset();
    Look();
    Pause(kQueuePollMs);
    SleepWhileQuiet();
  }
}

void PrinterThread::SleepWhileQuiet() {
  uint32_t quietMs = env.spooler->QuietMs(printerName);
  if (quietMs == 0) return;
  // Pages waiting for their log are tried again at their own pace, also
  // while the queue is idle.
  if (!pending.empty()) quietMs = std::min(quietMs, kPendingRetryMs);
  // The stop signal was last seen clear after the reset (by the pause just
  // made), and a stop sets queueChanged too, so no stop waits out the sleep.
  queueChanged->Wait(quietMs);
  Pause(0);
}

bool PrinterThread::ReadPageTotal(uint32_t waitMs) {
  if (waitMs != 0) Pause(waitMs);
  uint32_t total = 0;
  if (env.spooler->ReadPageTotal(printerName, &total) != SpoolStatus::kOk) return false;
  currentPageTotal = total;
  return true;
}

bool PrinterThread::ListInto(std::vector<SpoolJob>* jobs) {
  // A cursor made by a failed call would start from a later now.
  const SpoolStatus status = env.spooler->ListJobs(printerName, &cursor, jobs);
  if (status != SpoolStatus::kOk) {
    if (status == SpoolStatus::kUnavailable) catchUpDue = true;
    // A spooler away is the administrator's to start, a printer not found
    // is a setting to correct: each has its own ID and is said on its own.
    SayTrouble(env, Severity::kWarning,
               (status == SpoolStatus::kUnavailable ? "spooler " : "queue ") + printerName,
               "printer \"" + printerName + "\": cannot list its queue: " + Describe(status));
    return false;
  }
  ledger.Learn(*jobs);
  NoteSubmitted(*jobs);
  pricer.Learn(*jobs);
  MeasureDocuments(*jobs);
  return true;
}

bool PrinterThread::ColorMatters() {
  // Looked up at most once a second: listings come every 20 ms.
  const uint64_t now = env.clock->MonotonicMs();
  if (colorMattersAt != 0 && now - colorMattersAt < 1000) return colorMatters;
  colorMattersAt = now == 0 ? 1 : now;
  Tariff tariff;
  colorMatters = RegistryDwordValue(*env.registry, settings::kLogJobDetails).Get() == 1 ||
                 (ReadPrices(&tariff) && tariff.colorCost != tariff.monoCost);
  return colorMatters;
}

void PrinterThread::MeasureDocuments(const std::vector<SpoolJob>& jobs) {
  // Ghostscript is run only where its answer changes a bill or a record.
  if (env.inkMeter == nullptr || jobs.empty() || !ColorMatters()) return;
  for (const SpoolJob& job : jobs) {
    // An ended job too: CUPS keeps its documents a day by default, and one
    // that went is told as gone.
    if (!pricer.WantsMeasure(job)) continue;
    if (!inkQueue) inkQueue = std::make_unique<InkQueue>(*env.inkMeter, queueChanged.get());
    if (!inkQueue->Ask(printerName, job.id, job.submittedAt)) {
      SayTrouble(env, Severity::kInfo, "measure " + printerName,
                 "printer \"" + printerName +
                     "\": too many documents wait to be measured for "
                     "colour; job " +
                     std::to_string(job.id) + " is priced by the mode it asked for");
    }
  }
}

namespace {

// Why a document was not measured, where an administrator may act on it;
// none where it simply was not there to measure.
const char* WhyNotMeasured(InkStatus status) {
  switch (status) {
    case InkStatus::kTooLarge:
      return "larger than is measured";
    case InkStatus::kUnreadable:
      return "damaged, encrypted, or of a kind Ghostscript cannot read";
    case InkStatus::kBound:
      return "it took more time, memory or output than allowed";
    case InkStatus::kUnavailable:
      return "the spooler did not hand it over";
    default:
      return nullptr;
  }
}

}  // namespace

void PrinterThread::TakeMeasures() {
  if (!inkQueue || !inkQueue->HasAnswers()) return;
  // Answers are taken only once they can be priced: one dropped is a job
  // priced by its asked mode for good.
  Tariff tariff;
  if (!ReadPrices(&tariff)) return;
  std::vector<InkQueue::Answer> answers = inkQueue->Take();
  uint32_t threshold = RegistryDwordValue(*env.registry, settings::kColorThreshold).Get();
  if (threshold == 0) threshold = kDefaultColorThreshold;
  std::vector<PendingKey> corrected;
  for (InkQueue::Answer& answer : answers) {
    // Figures of the printer a run before watched are not this thread's.
    if (answer.queue != printerName) continue;
    if (answer.status != InkStatus::kOk || answer.pages.empty()) {
      if (const char* why = WhyNotMeasured(answer.status)) {
        SayTrouble(env, Severity::kInfo, "measure " + printerName,
                   "printer \"" + printerName + "\": job " + std::to_string(answer.id) +
                       "'s document could not be measured for colour (" + why +
                       "); it is priced by the mode it asked for");
      }
      pricer.NotMeasured(answer.id, answer.submittedAt);
      continue;
    }
    std::vector<bool> pageColors;
    for (const PageInk& ink : answer.pages) pageColors.push_back(IsColorPage(ink, threshold));
    JobRecord like{printerName, static_cast<int32_t>(answer.id), "", "", 0, 0, env.clock->Now()};
    like.submittedAt = answer.submittedAt;
    pricer.NamesOf(answer.id, answer.submittedAt, &like.userName, &like.documentName);
    if (std::optional<JobRecord> correction = pricer.Measured(tariff, like, pageColors)) {
      corrected.push_back(Keep(*correction));
    }
  }
  TryEnter(corrected);
  SavePending();
}

void PrinterThread::Look() {
  TakeMeasures();
  std::vector<SpoolJob> jobs;
  if (ListInto(&jobs)) {
    if (catchUpDue && env.clock->MonotonicMs() - catchUpTriedAt >= kCatchUpRetryMs) {
      catchUpDue = false;
      CatchUp();
    }
    // Jobs that ended since the last look are entered by the first pass;
    // only where none is left in the queue does one need a pass of its own.
    bool passed = false;
    for (const SpoolJob& job : jobs) {
      if (!ledger.NeedsPass(job)) continue;
      Pass(job);
      passed = true;
    }
    // The counter, read just before a job's last pages, owes them to it;
    // the queue's last job gets them from a pass of its own, since no later
    // job brings one (given up after PageLedger::kOwedPasses).
    if (!passed) {
      if (std::optional<SpoolJob> owed = ledger.OwedEndedJob()) Pass(*owed);
    }
  }
  if (!pending.empty() && env.clock->MonotonicMs() - pendingTriedAt >= kPendingRetryMs) {
    RetryPending();
  }
}

bool PrinterThread::ReadPrices(Tariff* tariff) const {
  Registry& registry = *env.registry;
  RegistryDwordValue running(registry, settings::kAppIsRunning);
  if (running.Get() != 1) return false;

  int index = -1;
  RegistryDwordValue printerCount(registry, settings::kPrinterCount);
  const uint32_t count = std::min(printerCount.Get(), kMaxSearchedPrinters);
  for (uint32_t i = 1; i <= count; ++i) {
    RegistryStringValue name(registry, settings::PrinterName(static_cast<int>(i)));
    if (name.Get() == printerName) index = static_cast<int>(i);
  }
  *tariff = ReadTariff(registry, index);
  return true;
}

EnteredJobs PrinterThread::ReadEntered() const {
  EnteredJobs entered = ReadEnteredJobs(env, printerName, kCatchUpDays);
  for (const auto& [key, figures] : pending) {
    if (std::get<0>(key) == printerName && figures.jobId > 0) {
      const uint32_t pages = static_cast<uint32_t>(std::max(figures.pages, 0));
      entered.Add(static_cast<uint32_t>(figures.jobId), pages, figures.stamp);
      entered.pending[{static_cast<uint32_t>(figures.jobId), figures.submittedAt}] += pages;
    }
  }
  return entered;
}

void PrinterThread::CatchUp() {
  catchUpTriedAt = env.clock->MonotonicMs();
  // A book begun now is the watch's start where no add recorded one.
  if (!seen.Known()) seen.SetSince(EntryStamp(env.clock->Now()));
  std::vector<SpoolJob> ended;
  const SpoolStatus status = env.spooler->ListEndedJobs(printerName, kMaxCaughtUp, &ended);
  if (status != SpoolStatus::kOk) {
    catchUpDue = status == SpoolStatus::kUnavailable;
    return;
  }
  if (ended.empty()) {
    // The first start's mark: jobs that end from now on are the agent's.
    seen.MarkKnown();
    SaveSeen();
    return;
  }
  Tariff tariff;
  if (!ReadPrices(&tariff)) return;
  pricer.Learn(ended);
  const EnteredJobs entered = ReadEntered();
  // Every ended job the logs hold is settled at what they hold, not only
  // those missing pages: the cursor may tell such a job again as ended, and
  // a ledger that did not know it was entered would enter it once more.
  for (const SpoolJob& job : ended) {
    if (!job.exactCounts) continue;
    if (std::optional<uint32_t> billed = BilledPages(seen, entered, job)) {
      ledger.Settle(job.id, *billed);
    }
  }
  // Read at each catch-up: an add again writes it anew.
  const std::optional<WatchStart> start = LoadWatchStart(env, printerName);
  const std::vector<MissedJob> missedJobs =
      MissedJobs(seen, entered, ended, start ? &*start : nullptr);
  SeeEndedJobs(entered, ended, missedJobs, &seen);
  SaveSeen();
  const LocalTime now = env.clock->Now();
  std::vector<PendingKey> kept;
  for (const MissedJob& missed : missedJobs) {
    const SpoolJob& job = missed.job;
    // A scheduler whose clock is ahead dates no entry after the agent's now.
    const LocalTime stamp =
        job.endedAt && LocalSeconds(*job.endedAt) <= LocalSeconds(now) ? *job.endedAt : now;
    JobRecord figures{printerName,
                      static_cast<int32_t>(job.id),
                      job.user.value_or(""),
                      job.document.value_or(""),
                      static_cast<int32_t>(missed.pages),
                      0,
                      stamp,
                      true};
    figures.submittedAt = job.submittedAt;
    pricer.Entered(job.id, job.submittedAt, job.pagesPrinted.value_or(0) - missed.pages);
    pricer.Price(tariff, &figures);
    kept.push_back(Keep(figures));
    ledger.Settle(job.id, *job.pagesPrinted);
  }
  if (kept.empty()) return;
  SayTrouble(
      env, Severity::kInfo, "caught up " + printerName,
      "printer \"" + printerName + "\": " + std::to_string(kept.size()) +
          " job(s) ended while the queue was not watched; entered from the spooler's history");
  TryEnter(kept);
  SavePending();
}

void PrinterThread::Pass(const SpoolJob& job) {
  const LocalTime stamp = env.clock->Now();
  Tariff tariff;
  if (!ReadPrices(&tariff)) return;

  // The counter first, the jobs' own counts second: a listing is never
  // behind the counter it is shared against.
  ReadPageTotal(kCounterWaitMs);
  std::vector<SpoolJob> listed;
  ListInto(&listed);

  uint32_t rise = 0;
  if (currentPageTotal > lastPageTotal) rise = currentPageTotal - lastPageTotal;
  // A counter that fell began again (a spooler restarted): it counts on
  // from there, or every page until it passed its old value would be lost.
  lastPageTotal = currentPageTotal;
  // Every share is kept before any is written: a stop in the middle of the
  // writes leaves the rest pending, not lost.
  std::vector<PendingKey> shared;
  for (const PageShare& share : ledger.Share(rise, job)) {
    auto submitted = submittedOf.find(share.id);
    JobRecord figures{printerName,    static_cast<int32_t>(share.id),    share.user,
                      share.document, static_cast<int32_t>(share.pages), 0,
                      stamp};
    figures.submittedAt = submitted != submittedOf.end() ? submitted->second : 0;
    pricer.Price(tariff, &figures);
    shared.push_back(Keep(figures));
  }
  TryEnter(shared);
  RetryPending();
}

void PrinterThread::LoadSeen() {
  // A thread is given another printer only between runs.
  if (seenPrinter == printerName) return;
  seenPrinter = printerName;
  seen = LoadSeenJobs(env, printerName);
  seenSaved = seen.Changes();
  submittedOf.clear();
}

bool PrinterThread::SaveSeen() {
  // Until the first catch-up begins it, the book is kept in memory only.
  if (!seen.Known() || seen.Changes() == seenSaved) return true;
  // With no Path there are no logs either, and no book.
  const std::string path = SeenJobsPath(env, printerName);
  if (!path.empty() && env.files->ReplaceText(path, seen.Encode()) != FileStatus::kOk) {
    SayTrouble(env, Severity::kWarning, "seen " + printerName,
               "printer \"" + printerName + "\": cannot write " + path +
                   ", which tells its jobs apart; their pages wait until it can be written");
    return false;
  }
  seenSaved = seen.Changes();
  return true;
}

bool PrinterThread::ClaimEntry(JobRecord* figures) {
  // Figures of the printer a run before watched are entered as they were.
  if (figures->printerName != printerName) return true;
  figures->entryStamp = seen.Claim({static_cast<uint32_t>(figures->jobId), figures->submittedAt},
                                   LogDayOf(env, *figures), EntryStamp(figures->stamp));
  return SaveSeen();
}

void PrinterThread::NoteSubmitted(const std::vector<SpoolJob>& jobs) {
  // Ids of jobs long gone are not kept for ever; those listed now are.
  if (submittedOf.size() > PageLedger::kMaxJobs) submittedOf.clear();
  for (const SpoolJob& job : jobs) {
    if (job.submittedAt != 0) submittedOf[job.id] = job.submittedAt;
  }
}

void PrinterThread::RestorePending() {
  if (pendingRestored) return;
  pendingRestored = true;
  std::string text;
  if (env.files->ReadText(PendingPagesPath(env, printerName), &text) != FileStatus::kOk) return;
  pendingSaved = text;
  for (const JobRecord& figures : DecodePendingPages(text, printerName)) Keep(figures);
}

void PrinterThread::SavePending() {
  std::vector<JobRecord> jobs;
  for (const auto& [key, figures] : pending) jobs.push_back(figures);
  const std::string text = EncodePendingPages(jobs);
  if (text == pendingSaved) return;
  const std::string path = PendingPagesPath(env, printerName);
  const FileStatus saved =
      text.empty() ? env.files->Delete(path) : env.files->ReplaceText(path, text);
  if (saved == FileStatus::kOk || (text.empty() && saved == FileStatus::kMissing)) {
    pendingSaved = text;
  }
}

PrinterThread::PendingKey PrinterThread::Keep(const JobRecord& figures) {
  PendingKey key{figures.printerName, figures.jobId, figures.submittedAt};
  auto [at, fresh] = pending.try_emplace(key, figures);
  if (!fresh) {
    // Added to what is still waiting; the entry is new as of its first try.
    JobRecord& held = at->second;
    held.pages = static_cast<int32_t>(static_cast<uint32_t>(held.pages) +
                                      static_cast<uint32_t>(figures.pages));
    held.cost = static_cast<int32_t>(static_cast<uint32_t>(held.cost) +
                                     static_cast<uint32_t>(figures.cost));
    if (!figures.userName.empty()) held.userName = figures.userName;
    if (!figures.documentName.empty()) held.documentName = figures.documentName;
    held.colorPages = static_cast<int32_t>(static_cast<uint32_t>(held.colorPages) +
                                           static_cast<uint32_t>(figures.colorPages));
    held.monoPages = static_cast<int32_t>(static_cast<uint32_t>(held.monoPages) +
                                          static_cast<uint32_t>(figures.monoPages));
    if (figures.copies != 0) held.copies = figures.copies;
    for (auto [mine, theirs] : {std::pair{&held.sides, &figures.sides},
                                {&held.paper, &figures.paper},
                                {&held.client, &figures.client},
                                {&held.colorFrom, &figures.colorFrom}}) {
      if (!theirs->empty()) *mine = *theirs;
    }
  }
  return key;
}

void PrinterThread::TryEnter(const std::vector<PendingKey>& keys) {
  // A log that refused one write refuses the next: each costs a second of
  // retries, so the rest of its jobs wait for a later round.
  std::set<std::string> refused;
  for (const PendingKey& key : keys) {
    auto at = pending.find(key);
    if (at == pending.end() || refused.count(std::get<0>(key))) continue;
    // A stop inside the write throws before anything is written, and the
    // figures stay here for the next run of this thread.
    if (ClaimEntry(&at->second) && Record(at->second)) {
      pending.erase(at);
      continue;
    }
    refused.insert(std::get<0>(key));
    ReportPending(at->second);
  }
}

void PrinterThread::ReportPending(const JobRecord& figures) {
  SayTrouble(env, Severity::kWarning, "pending " + figures.printerName,
             "printer \"" + figures.printerName + "\": job " + std::to_string(figures.jobId) +
                 " could not be entered in its daily log; its " + std::to_string(figures.pages) +
                 " page(s) are kept and entered at the next write that succeeds");
}

void PrinterThread::RetryPending() {
  pendingTriedAt = env.clock->MonotonicMs();
  std::vector<PendingKey> keys;
  for (const auto& [key, figures] : pending) keys.push_back(key);
  TryEnter(keys);
  SavePending();
}

bool PrinterThread::Record(const JobRecord& job) {
  return RecordJob(env, logLocks, Waiter(Pauser()), job);
}

}  // namespace pelko
