// The spooler over CUPS. One IPP request costs the scheduler about 200 us
// whatever it asks, so an idle queue is asked again only when it may have
// changed: a subscription on each queue has CUPS push its events to us, and
// a look at an empty queue with no push since is answered from the last
// fetch. The rules (when a queue is asked, when its ended jobs are, and why
// a lost push delays an entry but loses nothing) are in docs/monitoring.md,
// "What watching a queue costs on CUPS"; the words look, push and cursor in
// docs/design.md, "Words".
#include "agent/platform/spooler.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agent/platform/posix/cups/cups_client.h"
#include "agent/platform/posix/cups/cups_job_book.h"
#include "agent/platform/posix/cups/cups_jobs.h"
#include "agent/platform/posix/cups/cups_subscription.h"
#include "agent/platform/spool_names.h"

namespace pelko {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A look at an idle queue costs the scheduler a request: 49 idle queues
// looked at every second kept it at 4 % of a core.
constexpr auto kSafetyFetch = milliseconds(30000);
// A listing this soon after a counter read is answered from the fetch that
// read made, so the counter never runs ahead of the jobs listed.
constexpr auto kCounterServesListing = milliseconds(10);
// Ended jobs are asked for this often even with no sign of one: a push
// lost costs at most that. Where pushes are not known to arrive, a job that
// came and went shows no sign at all: it is found within the shorter time,
// and the queue, looked at every 20 ms, is not asked twice per look.
constexpr auto kAskEndedAtLeast = std::chrono::seconds(30);
constexpr auto kAskEndedUnannounced = std::chrono::seconds(1);
constexpr auto kAskColorEvery = std::chrono::minutes(10);
// Until the server has told it once: a busy server must not leave a colour
// printer's jobs priced as mono for ten minutes.
constexpr auto kAskUnknownColorEvery = std::chrono::seconds(2);
constexpr std::size_t kMaxNames = 4096;
constexpr auto kMissingFor = milliseconds(1000);

struct Watch {
  CupsServer server;
  std::string printerUri;

  // Held by one fetch or upkeep at a time; guards all but the atomics, also
  // the subscription's.
  std::mutex mutex;
  CupsJobBook book;
  bool answered = false;       // the last fetch succeeded
  bool servesListing = false;  // a counter reading's fetch, for the listing after it
  SteadyClock::time_point fetched;
  SteadyClock::time_point endedAsked;
  uint64_t pushesAtFetch = 0;
  std::map<const void*, uint64_t> cursors;  // each listing cursor: the last ended job it told
  std::string localAddress;
  std::optional<bool> printsColor;
  SteadyClock::time_point colorDue;      // when color-supported is asked next
  SteadyClock::time_point missingUntil;  // the server said it has no such queue
  // Its pushes and what they told; the subscriptions' table holds it too.
  const std::shared_ptr<CupsSubscription> subscription = std::make_shared<CupsSubscription>();
};

// A watcher's place in its queue's ended jobs.
class CupsCursor : public JobCursor {
 public:
  explicit CupsCursor(std::shared_ptr<Watch> watch) : watch(std::move(watch)) {}
  ~CupsCursor() override {
    std::lock_guard<std::mutex> lock(watch->mutex);
    watch->cursors.erase(this);
  }
  const std::shared_ptr<Watch> watch;
};

std::optional<LocalTime> LocalTimeOf(int64_t seconds) {
  if (seconds <= 0) return std::nullopt;
  const time_t at = static_cast<time_t>(seconds);
  tm parts{};
  if (localtime_r(&at, &parts) == nullptr) return std::nullopt;
  return LocalTime{parts.tm_year + 1900,
                   parts.tm_mon + 1,
                   parts.tm_mday,
                   parts.tm_hour,
                   parts.tm_min,
                   parts.tm_sec,
                   0};
}

SpoolStatus StatusOf(const CupsJobList& result) {
  if (result.failure == CupsFailure::kUnreachable) return SpoolStatus::kUnavailable;
  if (result.status == IPP_STATUS_ERROR_NOT_FOUND) return SpoolStatus::kNoQueue;
  return SpoolStatus::kFailed;
}

class CupsSpooler : public Spooler {
 public:
  // The client is made first so that it outlives this service at exit.
  CupsSpooler() : client(CupsClient::Shared()), subscriptions(client) {}

  ~CupsSpooler() override {
    subscriptions.Stop();  // its pushes reach the tables below
    // Leases end by themselves; ending them now spares the server notifier
    // processes that would push to nobody until then.
    for (auto& [key, watch] : watches) {
      std::lock_guard<std::mutex> lock(watch->mutex);
      if (watch->subscription->id != 0) {
        subscriptions.Cancel(*watch->subscription, watch->server, watch->printerUri);
      }
    }
  }

  SpoolStatus ListJobs(const std::string& name, std::unique_ptr<JobCursor>* cursor,
                       std::vector<SpoolJob>* jobs) override {
    jobs->clear();
    std::shared_ptr<Watch> watch = WatchFor(name);
    if (!watch) return SpoolStatus::kNoQueue;
    auto* mine = dynamic_cast<CupsCursor*>(cursor->get());
    if (mine != nullptr && mine->watch != watch) mine = nullptr;  // another queue's: start anew
    bool asked = false;
    {
      // A cursor replaced goes once the lock is let go: it takes its own.
      std::unique_ptr<JobCursor> replaced;
      std::lock_guard<std::mutex> lock(watch->mutex);
      // The listing right after a counter reading gets that reading's fetch
      // (also when a push came since: what it announces is seen next time);
      // a later one, a fresh fetch.
      const bool fromCounter = watch->answered && watch->servesListing &&
                               SteadyClock::now() - watch->fetched < kCounterServesListing;
      watch->servesListing = false;
      if (!fromCounter && !AnswersFromLastFetch(*watch, SteadyClock::now() - watch->fetched)) {
        const SpoolStatus status = Fetch(*watch);
        if (status != SpoolStatus::kOk) return status;
        asked = true;
      }
      *jobs = watch->book.Active();
      replaced = Follow(watch, mine, cursor, jobs);
      const std::optional<bool> color = PrintsColor(*watch);
      for (SpoolJob& job : *jobs) {
        job.details.printerColor = color;
        NamesForLog(job, NamesUtf8());
      }
    }
    // Upkeep of the subscription only where the server just answered, and
    // at most one request of it per look.
    if (asked) Upkeep(*watch);
    return SpoolStatus::kOk;
  }

  SpoolStatus ReadPageTotal(const std::string& name, uint32_t* total) override {
    std::shared_ptr<Watch> watch = WatchFor(name);
    if (!watch) return SpoolStatus::kNoQueue;
    std::lock_guard<std::mutex> lock(watch->mutex);
    if (!AnswersFromLastFetch(*watch, SteadyClock::now() - watch->fetched)) {
      const SpoolStatus status = Fetch(*watch);
      if (status != SpoolStatus::kOk) return status;
    }
    watch->servesListing = true;
    *total = watch->book.Total();
    return SpoolStatus::kOk;
  }

  // The scheduler's job history (PreserveJobHistory), asked afresh: no
  // watch's book is used or changed, so a watcher's listings go on as they were.
  bool KeepsEndedJobs() const override { return true; }
  SpoolStatus ListEndedJobs(const std::string& name, std::size_t limit,
                            std::vector<SpoolJob>* jobs) override {
    jobs->clear();
    std::shared_ptr<Watch> watch = WatchFor(name);
    if (!watch) return SpoolStatus::kNoQueue;
    const CupsJobList ended =
        GetJobs(client, watch->server, watch->printerUri, "completed", 0, false);
    if (ended.failure != CupsFailure::kNone) return StatusOf(ended);
    std::vector<CupsJob> kept = ended.jobs;
    std::stable_sort(kept.begin(), kept.end(), [](const CupsJob& a, const CupsJob& b) {
      return a.endedAt != b.endedAt ? a.endedAt < b.endedAt : a.id < b.id;
    });
    if (kept.size() > limit) kept.erase(kept.begin(), kept.end() - static_cast<long>(limit));
    std::optional<bool> color;
    {
      std::lock_guard<std::mutex> lock(watch->mutex);
      color = PrintsColor(*watch);
    }
    for (const CupsJob& job : kept) {
      SpoolJob told;
      told.id = job.id;
      told.user = job.user;
      told.document = job.title;
      told.state = JobState::kEnded;
      told.pagesPrinted = job.pages;
      told.exactCounts = true;
      told.createdAt = LocalTimeOf(job.createdAt);
      told.submittedAt = job.createdAt;
      told.endedAt = LocalTimeOf(job.endedAt);
      told.details = job.details;
      told.details.printerColor = color;
      NamesForLog(told, NamesUtf8());
      jobs->push_back(std::move(told));
    }
    return SpoolStatus::kOk;
  }

  void AddChangeSignal(const std::string& name, Signal* changed) override {
    std::shared_ptr<Watch> watch = WatchFor(name);
    if (!watch || changed == nullptr) return;
    subscriptions.AddChangeSignal(*watch->subscription, changed);
  }

  void RemoveChangeSignal(const std::string& name, Signal* changed) override {
    // Resolved as it was added (not from byName alone, which may be full):
    // a signal left behind would be set after its owner is gone.
    std::shared_ptr<Watch> watch = WatchFor(name);
    if (!watch) return;
    subscriptions.RemoveChangeSignal(*watch->subscription, changed);
  }

  uint32_t QuietMs(const std::string& name) override {
    std::shared_ptr<Watch> watch = WatchFor(name);
    if (!watch) return 0;
    std::lock_guard<std::mutex> lock(watch->mutex);
    const auto age = SteadyClock::now() - watch->fetched;
    if (!AnswersFromLastFetch(*watch, age)) return 0;
    const auto left = std::chrono::duration_cast<milliseconds>(kSafetyFetch - age).count();
    return left > 0 ? static_cast<uint32_t>(left) : 0;
  }

 private:
  // The watch of a printer name, made on first use; nullptr for a name that
  // is no queue. A name is parsed once (the default server is the process's
  // for good): looks come every 20 ms per queue.
  std::shared_ptr<Watch> WatchFor(const std::string& name) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto known = byName.find(name);
      if (known != byName.end()) return known->second;
    }
    CupsServer server;
    std::string queue;
    const bool parsed = ParsePrinterName(name, &server, &queue);
    std::lock_guard<std::mutex> lock(mutex);
    if (!parsed) {
      if (byName.size() < kMaxNames) byName[name] = nullptr;
      return nullptr;
    }
    auto& slot = watches[server.Key() + "\n" + queue];
    if (!slot) {
      slot = std::make_shared<Watch>();
      slot->server = server;
      slot->printerUri = PrinterUri(server, queue);
    }
    if (byName.size() < kMaxNames) byName[name] = slot;
    return slot;
  }

  // Only an empty queue is answered from the last fetch: CUPS announces
  // every new job, but not every job that leaves (one cancelled before it
  // printed sends no event). A queue with jobs is polled anyway only once
  // per accounting pass, every two seconds or more. Under watch.mutex.
  static bool AnswersFromLastFetch(const Watch& watch, SteadyClock::duration age) {
    const CupsSubscription& subscription = *watch.subscription;
    return watch.answered && watch.book.Empty() && subscription.confirmed.load() &&
           subscription.pushes.load() == watch.pushesAtFetch && age < kSafetyFetch;
  }

  // Adds to the listing the ended jobs its cursor has not told yet, or
  // gives it a new cursor from now, and lets the book forget what every
  // cursor has told. Returns the cursor replaced, to go once watch.mutex is
  // let go. Under watch.mutex.
  static std::unique_ptr<JobCursor> Follow(const std::shared_ptr<Watch>& watch, CupsCursor* mine,
                                           std::unique_ptr<JobCursor>* cursor,
                                           std::vector<SpoolJob>* jobs) {
    std::unique_ptr<JobCursor> replaced;
    if (mine == nullptr) {
      auto fresh = std::make_unique<CupsCursor>(watch);
      watch->cursors[fresh.get()] = watch->book.LastSeq();  // from now
      replaced = std::move(*cursor);
      *cursor = std::move(fresh);
    } else {
      uint64_t& told = watch->cursors[mine];
      watch->book.EndedAfter(told, jobs, &told);
    }
    uint64_t needed = watch->book.LastSeq();
    for (const auto& [who, told] : watch->cursors) needed = std::min(needed, told);
    watch->book.ForgetEndedUpTo(needed);
    return replaced;
  }

  // Whether the queue's printer prints colour (IPP color-supported), asked
  // once a while: a printer is seldom changed. Under watch.mutex.
  std::optional<bool> PrintsColor(Watch& watch) {
    const auto now = SteadyClock::now();
    if (now < watch.colorDue) return watch.printsColor;
    ipp_t* request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, watch.printerUri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "color-supported");
    CupsResult result = client.Request(watch.server, request);
    if (result.failure == CupsFailure::kNone) {
      ipp_attribute_t* a = ippFindAttribute(result.response, "color-supported", IPP_TAG_BOOLEAN);
      if (a != nullptr) watch.printsColor = ippGetBoolean(a, 0) != 0;
    }
    ippDelete(result.response);
    watch.colorDue = now + (watch.printsColor ? kAskColorEvery : kAskUnknownColorEvery);
    return watch.printsColor;
  }

  // Asks the server for the queue's jobs into the book. Under watch.mutex.
  SpoolStatus Fetch(Watch& watch) {
    const auto now = SteadyClock::now();
    CupsSubscription& subscription = *watch.subscription;
    const uint64_t pushes = subscription.pushes.load();
    // A queue the server does not have is not asked for again at every look.
    if (now < watch.missingUntil) return SpoolStatus::kNoQueue;

    const CupsJobList active =
        GetJobs(client, watch.server, watch.printerUri, "not-completed", 0, false);
    if (active.failure != CupsFailure::kNone) return Failed(watch, active, now);

    const bool wasEmpty = watch.answered && watch.book.Empty();
    const bool pushed = pushes != watch.pushesAtFetch;
    int unseen = 0;
    const SpoolStatus status = TakeJobs(watch, active.jobs, pushed, now, &unseen);
    if (status != SpoolStatus::kOk) return status;

    if (subscription.confirmed.load() && !pushed &&
        (unseen > 0 || (wasEmpty && !watch.book.Empty()))) {
      // A job came and no push told us: pushes are not to be relied on
      // until one arrives again.
      subscription.confirmed.store(false);
      subscription.unconfirmedSince = now;
    }
    watch.answered = true;
    watch.fetched = now;
    watch.pushesAtFetch = pushes;
    watch.localAddress = active.localAddress;
    return SpoolStatus::kOk;
  }

  // Takes the active jobs into the book, with the jobs ended since the last
  // fetch where one may have ended; *unseen counts those no fetch saw. A
  // caller that waits on no change has no subscription to announce ended
  // jobs: they are asked for at every fetch.
  SpoolStatus TakeJobs(Watch& watch, const std::vector<CupsJob>& active, bool pushed,
                       SteadyClock::time_point now, int* unseen) {
    if (!watch.book.Begun()) {
      const CupsJobList ended =
          GetJobs(client, watch.server, watch.printerUri, "completed", 0, true);
      if (ended.failure != CupsFailure::kNone) return Failed(watch, ended, now);
      uint32_t highest = 0;
      for (const CupsJob& job : ended.jobs) highest = std::max(highest, job.id);
      watch.book.Begin(active, highest);
      watch.endedAsked = now;
    } else if (pushed || watch.book.LostSight(active) ||
               !subscriptions.Awaited(*watch.subscription) ||
               now - watch.endedAsked >= (watch.subscription->confirmed.load()
                                              ? kAskEndedAtLeast
                                              : kAskEndedUnannounced)) {
      const CupsJobList ended =
          GetJobs(client, watch.server, watch.printerUri, "completed", watch.book.Floor(), false);
      if (ended.failure != CupsFailure::kNone) return Failed(watch, ended, now);
      *unseen = watch.book.Take(active, true, ended.jobs);
      watch.endedAsked = now;
    } else {
      *unseen = watch.book.Take(active, false, {});
    }
    return SpoolStatus::kOk;
  }

  SpoolStatus Failed(Watch& watch, const CupsJobList& result, SteadyClock::time_point now) {
    watch.answered = false;
    const SpoolStatus status = StatusOf(result);
    if (status == SpoolStatus::kNoQueue) watch.missingUntil = now + kMissingFor;
    return status;
  }

  void Upkeep(Watch& watch) {
    std::lock_guard<std::mutex> lock(watch.mutex);
    subscriptions.Upkeep(watch.subscription, watch.server, watch.printerUri, watch.localAddress);
  }

  CupsClient& client;
  CupsSubscriptions subscriptions;
  std::mutex mutex;  // the tables below
  std::map<std::string, std::shared_ptr<Watch>> watches;
  std::map<std::string, std::shared_ptr<Watch>> byName;
};

}  // namespace

Spooler& PlatformSpooler() {
  static CupsSpooler service;
  return service;
}

}  // namespace pelko
