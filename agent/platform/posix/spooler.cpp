// The spooler over CUPS. Every printer thread looks at its queue every 20 ms,
// and one IPP request costs the scheduler about 200 us whatever it asks, so
// looking by request alone would keep a core busy with 49 idle queues. An
// idle queue is therefore asked again only when it may have changed: each
// watched queue has a subscription whose events CUPS's own rss notifier
// pushes to us (cups_push.h), and a look at a queue that was empty, with no
// push since, is answered from the last fetch. Every new job is announced,
// so no job is seen later than by asking. A queue with jobs in it is asked
// at every look (those come once per accounting pass), and so is every
// queue whose pushes are not known to arrive: no subscription yet, or a job
// turned up that no push announced. Even an idle queue with pushes is asked
// again after kSafetyFetch, so that a lost push costs at most that. While a
// look would be answered from the last fetch, QuietMs says so, and a push
// sets the queue's change signals: the watcher sleeps until one comes.
//
// Jobs that ended since a watcher's last listing are found with a Get-Jobs
// for completed jobs from the lowest id that may still end untold (ids rise
// across the server), asked only when one may have ended: a job of the last
// fetch is gone, a push came, and every kAskEndedAtLeast all the same
// (every second where pushes are not known to arrive). A job that came and went between two
// fetches is announced by a push, so it is found too, also when the push
// comes after the fetch: the lowest id moves up only with an answer for the
// ended jobs. The queue's page counter is built from the same fetches
// (cups_job_book.h), so a counter read just before a listing is answered
// from the fetch that listing gets, and never runs ahead of its jobs.
#include "agent/platform/spooler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "agent/platform/posix/cups_client.h"
#include "agent/platform/posix/cups_job_book.h"
#include "agent/platform/posix/cups_push.h"

namespace pelko {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr auto kSafetyFetch = milliseconds(1000);
constexpr auto kCounterServesListing = milliseconds(10);
// Ended jobs are asked for this often even with no sign of one: a push
// lost costs at most that. Where pushes are not known to arrive, a job that
// came and went shows no sign at all: it is found within the shorter time,
// and the queue, looked at every 20 ms, is not asked twice per look.
constexpr auto kAskEndedAtLeast = std::chrono::seconds(10);
constexpr auto kAskEndedUnannounced = std::chrono::seconds(1);
constexpr std::size_t kMaxNames = 4096;
constexpr auto kMissingFor = milliseconds(1000);
constexpr int kLeaseSeconds = 90;
constexpr auto kRenewEvery = std::chrono::seconds(30);
constexpr auto kRetrySubscribe = std::chrono::seconds(60);
// Pushes promised but not seen for this long: start a new subscription.
constexpr auto kResubscribeAfter = std::chrono::seconds(30);

struct Watch {
  CupsServer server;
  std::string queue;
  std::string printerUri;

  std::mutex mutex;  // held by one fetch or upkeep at a time; guards all but the atomics
  CupsJobBook book;
  bool answered = false;  // the last fetch succeeded
  bool servesListing = false;  // a counter reading's fetch, for the listing after it
  SteadyClock::time_point fetched;
  SteadyClock::time_point endedAsked;
  uint64_t pushesAtFetch = 0;
  std::map<const void*, uint64_t> cursors;  // each listing cursor: the last ended job it told
  std::string localAddress;
  bool reachedBySocket = false;
  int subscription = 0;
  std::string token;
  SteadyClock::time_point renewDue;
  SteadyClock::time_point retryAt;
  SteadyClock::time_point unconfirmedSince;
  SteadyClock::time_point missingUntil;  // the server said it has no such queue

  // Written by the listener's thread.
  std::atomic<uint64_t> pushes{0};
  std::atomic<bool> confirmed{false};
  std::vector<Signal*> changeSignals;  // under the spooler's mutex
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

// "Office" or "\\host\Office".
bool ParsePrinterName(const std::string& name, CupsServer* server, std::string* queue) {
  std::string machine;
  if (name.size() >= 2 && name[0] == '\\' && name[1] == '\\') {
    const std::size_t slash = name.find('\\', 2);
    if (slash == std::string::npos || slash == 2) return false;
    machine = name.substr(2, slash - 2);
    *queue = name.substr(slash + 1);
  } else {
    *queue = name;
  }
  return IsQueueName(*queue) && ServerForMachine(machine, server);
}

std::optional<std::string> Text(ipp_attribute_t* attribute) {
  const char* text = ippGetString(attribute, 0, nullptr);
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

std::vector<CupsJob> ParseJobs(ipp_t* response) {
  std::vector<CupsJob> jobs;
  CupsJob job;
  auto finish = [&] {
    if (job.id != 0) jobs.push_back(job);
    job = CupsJob();
  };
  for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr;
       a = ippNextAttribute(response)) {
    const char* name = ippGetName(a);
    if (name == nullptr) {
      finish();
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
    if (!std::strcmp(name, "job-id")) {
      const int id = ippGetInteger(a, 0);
      job.id = id > 0 ? static_cast<uint32_t>(id) : 0;
    } else if (!std::strcmp(name, "job-uuid")) {
      job.uuid = Text(a).value_or("");
    } else if (!std::strcmp(name, "job-originating-user-name")) {
      job.user = Text(a);
    } else if (!std::strcmp(name, "job-name")) {
      job.title = Text(a);
    } else if (!std::strcmp(name, "job-state")) {
      job.state = ippGetInteger(a, 0);
    } else if (!std::strcmp(name, "job-impressions-completed")) {
      const int pages = ippGetInteger(a, 0);
      job.pages = pages > 0 ? static_cast<uint32_t>(pages) : 0;
    }
  }
  finish();
  return jobs;
}

SpoolStatus StatusOf(const CupsResult& result) {
  if (result.failure == CupsFailure::kUnreachable) return SpoolStatus::kUnavailable;
  if (result.status == IPP_STATUS_ERROR_NOT_FOUND) return SpoolStatus::kNoQueue;
  return SpoolStatus::kFailed;
}

std::string NewToken() {
  static const char digits[] = "0123456789abcdef";
  std::random_device random;
  std::string token = "pelko-";
  for (int i = 0; i < 24; ++i) token += digits[random() % 16];
  return token;
}

class CupsSpooler : public Spooler {
 public:
  // The client is made first so that it outlives this service at exit.
  CupsSpooler()
      : client(CupsClient::Shared()),
        listener([this](const std::string& path) { OnPush(path); }) {}

  ~CupsSpooler() override {
    listener.Stop();  // its pushes reach the tables below
    // Leases end by themselves; ending them now spares the server notifier
    // processes that would push to nobody until then.
    for (auto& [key, watch] : watches) {
      std::lock_guard<std::mutex> lock(watch->mutex);
      if (watch->subscription != 0) Cancel(*watch);
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
      if (mine == nullptr) {
        auto fresh = std::make_unique<CupsCursor>(watch);
        mine = fresh.get();
        watch->cursors[mine] = watch->book.LastSeq();  // from now
        replaced = std::move(*cursor);
        *cursor = std::move(fresh);
      } else {
        uint64_t& told = watch->cursors[mine];
        watch->book.EndedAfter(told, jobs, &told);
      }
      uint64_t needed = watch->book.LastSeq();
      for (const auto& [who, told] : watch->cursors) needed = std::min(needed, told);
      watch->book.ForgetEndedUpTo(needed);
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

  void AddChangeSignal(const std::string& name, Signal* changed) override {
    std::shared_ptr<Watch> watch = WatchFor(name);
    if (!watch || changed == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex);
    watch->changeSignals.push_back(changed);
  }

  void RemoveChangeSignal(const std::string& name, Signal* changed) override {
    // Resolved as it was added (not from byName alone, which may be full):
    // a signal left behind would be set after its owner is gone.
    std::shared_ptr<Watch> watch = WatchFor(name);
    if (!watch) return;
    std::lock_guard<std::mutex> lock(mutex);
    std::erase(watch->changeSignals, changed);
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
      slot->queue = queue;
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
    return watch.answered && watch.book.Empty() && watch.confirmed.load() &&
           watch.pushes.load() == watch.pushesAtFetch && age < kSafetyFetch;
  }

  void OnPush(const std::string& path) {
    std::string token = path;
    if (!token.empty() && token.front() == '/') token.erase(0, 1);
    const std::size_t dot = token.rfind(".rss");
    if (dot != std::string::npos) token.resize(dot);
    std::lock_guard<std::mutex> lock(mutex);
    auto found = tokens.find(token);
    if (found == tokens.end()) return;
    if (auto watch = found->second.lock()) {
      watch->pushes.fetch_add(1);
      watch->confirmed.store(true);
      for (Signal* changed : watch->changeSignals) changed->Set();
    }
  }

  // Get-Jobs for the queue's jobs in `which` state, from the job id given.
  CupsResult GetJobs(const Watch& watch, const char* which, uint32_t firstId, bool idsOnly) {
    ipp_t* request = NewRequest(IPP_OP_GET_JOBS, watch.printerUri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, which);
    if (firstId > 1) {
      ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "first-job-id",
                    static_cast<int>(std::min<uint32_t>(firstId, INT32_MAX)));
    }
    // The job id alone spares the scheduler loading the history from disk.
    static const char* const idOnly[] = {"job-id"};
    static const char* const wanted[] = {"job-id",   "job-uuid",  "job-originating-user-name",
                                         "job-name", "job-state", "job-impressions-completed"};
    if (idsOnly) {
      ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1,
                    nullptr, idOnly);
    } else {
      ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                    static_cast<int>(std::size(wanted)), nullptr, wanted);
    }
    return client.Request(watch.server, request);
  }

  // Asks the server for the queue's jobs into the book. Under watch.mutex.
  SpoolStatus Fetch(Watch& watch) {
    const auto now = SteadyClock::now();
    const uint64_t pushes = watch.pushes.load();
    // A queue the server does not have is not asked for again at every look.
    if (now < watch.missingUntil) return SpoolStatus::kNoQueue;

    CupsResult result = GetJobs(watch, "not-completed", 0, false);
    if (result.failure != CupsFailure::kNone) return Failed(watch, result, now);
    const std::vector<CupsJob> active = ParseJobs(result.response);
    ippDelete(result.response);
    const std::string localAddress = result.localAddress;

    const bool wasEmpty = watch.answered && watch.book.Empty();
    const bool pushed = pushes != watch.pushesAtFetch;
    int unseen = 0;
    if (!watch.book.Begun()) {
      result = GetJobs(watch, "completed", 0, true);
      if (result.failure != CupsFailure::kNone) return Failed(watch, result, now);
      uint32_t highest = 0;
      for (const CupsJob& job : ParseJobs(result.response)) highest = std::max(highest, job.id);
      ippDelete(result.response);
      watch.book.Begin(active, highest);
      watch.endedAsked = now;
    } else if (pushed || watch.book.LostSight(active) ||
               now - watch.endedAsked >=
                   (watch.confirmed.load() ? kAskEndedAtLeast : kAskEndedUnannounced)) {
      result = GetJobs(watch, "completed", watch.book.Floor(), false);
      if (result.failure != CupsFailure::kNone) return Failed(watch, result, now);
      const std::vector<CupsJob> ended = ParseJobs(result.response);
      ippDelete(result.response);
      unseen = watch.book.Take(active, true, ended);
      watch.endedAsked = now;
    } else {
      unseen = watch.book.Take(active, false, {});
    }

    if (watch.confirmed.load() && !pushed &&
        (unseen > 0 || (wasEmpty && !watch.book.Empty()))) {
      // A job came and no push told us: pushes are not to be relied on
      // until one arrives again.
      watch.confirmed.store(false);
      watch.unconfirmedSince = now;
    }
    watch.answered = true;
    watch.fetched = now;
    watch.pushesAtFetch = pushes;
    watch.localAddress = localAddress;
    watch.reachedBySocket = watch.server.IsSocket();
    return SpoolStatus::kOk;
  }

  SpoolStatus Failed(Watch& watch, CupsResult& result, SteadyClock::time_point now) {
    ippDelete(result.response);
    watch.answered = false;
    const SpoolStatus status = StatusOf(result);
    if (status == SpoolStatus::kNoQueue) watch.missingUntil = now + kMissingFor;
    return status;
  }

  void Upkeep(Watch& watch) {
    std::lock_guard<std::mutex> lock(watch.mutex);
    const auto now = SteadyClock::now();
    if (watch.subscription == 0) {
      if (now >= watch.retryAt) Subscribe(watch, now);
      return;
    }
    if (!watch.confirmed.load() && now - watch.unconfirmedSince > kResubscribeAfter) {
      Cancel(watch);
      return;
    }
    if (now >= watch.renewDue) Renew(watch, now);
  }

  void Subscribe(Watch& watch, SteadyClock::time_point now) {
    watch.retryAt = now + kRetrySubscribe;
    std::string address = watch.localAddress;
    // A scheduler on a unix socket is on this machine.
    if (address.empty() || watch.reachedBySocket) address = "127.0.0.1";
    const int port = listener.PortFor(address);
    if (port == 0) return;
    const std::string token = NewToken();
    const std::string host =
        address.find(':') != std::string::npos ? "[" + address + "]" : address;
    const std::string recipient =
        "rss://" + host + ":" + std::to_string(port) + "/" + token + ".rss";

    ipp_t* request = NewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, watch.printerUri);
    ippAddSeparator(request);
    ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_URI, "notify-recipient-uri", nullptr,
                 recipient.c_str());
    static const char* const events[] = {"job-created", "job-completed", "job-state-changed",
                                         "job-config-changed", "printer-deleted"};
    ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                  static_cast<int>(std::size(events)), nullptr, events);
    ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  kLeaseSeconds);
    {
      // Known before the notifier can possibly call.
      std::lock_guard<std::mutex> lock(mutex);
      tokens[token] = watches[watch.server.Key() + "\n" + watch.queue];
    }
    CupsResult result = client.Request(watch.server, request);
    ipp_attribute_t* id =
        result.response != nullptr
            ? ippFindAttribute(result.response, "notify-subscription-id", IPP_TAG_INTEGER)
            : nullptr;
    if (id == nullptr) {
      ippDelete(result.response);
      std::lock_guard<std::mutex> lock(mutex);
      tokens.erase(token);
      return;
    }
    watch.subscription = ippGetInteger(id, 0);
    ippDelete(result.response);
    watch.token = token;
    watch.renewDue = now + kRenewEvery;
    watch.unconfirmedSince = now;
  }

  void Renew(Watch& watch, SteadyClock::time_point now) {
    ipp_t* request = NewRequest(IPP_OP_RENEW_SUBSCRIPTION, watch.printerUri);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                  watch.subscription);
    ippAddSeparator(request);
    ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                  kLeaseSeconds);
    CupsResult result = client.Request(watch.server, request);
    ippDelete(result.response);
    if (result.failure == CupsFailure::kNone) {
      watch.renewDue = now + kRenewEvery;
    } else if (result.failure == CupsFailure::kRefused) {
      // Gone (the lease ran out, or the server forgot it): start anew.
      Forget(watch);
      watch.retryAt = now;
    } else {
      watch.renewDue = now + std::chrono::seconds(5);
    }
  }

  void Cancel(Watch& watch) {
    ipp_t* request = NewRequest(IPP_OP_CANCEL_SUBSCRIPTION, watch.printerUri);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                  watch.subscription);
    CupsResult result = client.Request(watch.server, request);
    ippDelete(result.response);
    Forget(watch);
    watch.retryAt = SteadyClock::now();
  }

  void Forget(Watch& watch) {
    watch.subscription = 0;
    watch.confirmed.store(false);
    std::lock_guard<std::mutex> lock(mutex);
    tokens.erase(watch.token);
    watch.token.clear();
  }

  CupsClient& client;
  CupsPushListener listener;
  std::mutex mutex;  // the tables below
  std::map<std::string, std::shared_ptr<Watch>> watches;
  std::map<std::string, std::shared_ptr<Watch>> byName;
  std::map<std::string, std::weak_ptr<Watch>> tokens;
};

}  // namespace

Spooler& PlatformSpooler() {
  static CupsSpooler service;
  return service;
}

}  // namespace pelko
