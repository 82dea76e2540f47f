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
#include "agent/platform/spooler.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "agent/platform/posix/cups_client.h"
#include "agent/platform/posix/cups_push.h"

namespace pelko {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kInvalidHandle = 6;  // ERROR_INVALID_HANDLE
constexpr uint32_t kAccessDenied = 5;

constexpr auto kSafetyFetch = milliseconds(1000);
constexpr std::size_t kMaxNames = 4096;
constexpr auto kMissingFor = milliseconds(1000);
constexpr int kLeaseSeconds = 90;
constexpr auto kRenewEvery = std::chrono::seconds(30);
constexpr auto kRetrySubscribe = std::chrono::seconds(60);
// Pushes promised but not seen for this long: start a new subscription.
constexpr auto kResubscribeAfter = std::chrono::seconds(30);

struct Job {
  uint32_t id = 0;
  std::string user;
  std::string title;
  std::string host;
  bool hasUser = false;
  bool hasTitle = false;
  bool hasHost = false;
  uint32_t status = 0;
  uint32_t priority = 0;
  uint32_t pagesPrinted = 0;
  int64_t created = 0;
};

using JobList = std::vector<Job>;

struct Watch {
  CupsServer server;
  std::string queue;
  std::string printerUri;

  std::mutex mutex;  // held by one fetch or upkeep at a time
  std::shared_ptr<const JobList> jobs;
  SteadyClock::time_point fetched;
  uint64_t pushesAtFetch = 0;
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

constexpr uint32_t kPrinterMagic = 0x50524E54;

struct Printer {
  uint32_t magic = kPrinterMagic;
  std::shared_ptr<Watch> watch;
  std::shared_ptr<const JobList> sized;  // the list a size query measured
  bool listed = false;
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

const char* Text(ipp_attribute_t* attribute) {
  const char* text = ippGetString(attribute, 0, nullptr);
  return text != nullptr ? text : "";
}

uint32_t StatusOf(int state) {
  switch (state) {
    case IPP_JSTATE_HELD:
    case IPP_JSTATE_STOPPED:
      return kJobStatusPaused;
    case IPP_JSTATE_PROCESSING:
      return kJobStatusPrinting;
    default:
      return 0;
  }
}

JobList ParseJobs(ipp_t* response) {
  JobList jobs;
  Job job;
  bool inJob = false;
  auto finish = [&] {
    if (inJob && job.id != 0) jobs.push_back(job);
    job = Job();
    inJob = false;
  };
  for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr;
       a = ippNextAttribute(response)) {
    const char* name = ippGetName(a);
    if (name == nullptr) {
      finish();
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
    inJob = true;
    if (!std::strcmp(name, "job-id")) {
      job.id = static_cast<uint32_t>(ippGetInteger(a, 0));
    } else if (!std::strcmp(name, "job-originating-user-name")) {
      job.user = Text(a);
      job.hasUser = true;
    } else if (!std::strcmp(name, "job-name")) {
      job.title = Text(a);
      job.hasTitle = true;
    } else if (!std::strcmp(name, "job-originating-host-name")) {
      job.host = Text(a);
      job.hasHost = true;
    } else if (!std::strcmp(name, "job-state")) {
      job.status = StatusOf(ippGetInteger(a, 0));
    } else if (!std::strcmp(name, "job-priority")) {
      const int priority = ippGetInteger(a, 0);
      job.priority = static_cast<uint32_t>(priority < 1 ? 1 : priority > 99 ? 99 : priority);
    } else if (!std::strcmp(name, "job-impressions-completed")) {
      const int pages = ippGetInteger(a, 0);
      job.pagesPrinted = pages > 0 ? static_cast<uint32_t>(pages) : 0;
    } else if (!std::strcmp(name, "time-at-creation")) {
      job.created = ippGetInteger(a, 0);
    }
  }
  finish();
  return jobs;
}

SystemTime ToSystemTime(int64_t seconds) {
  SystemTime t{};
  if (seconds <= 0) return t;
  const time_t at = static_cast<time_t>(seconds);
  std::tm utc{};
  if (gmtime_r(&at, &utc) == nullptr) return t;
  t.wYear = static_cast<uint16_t>(utc.tm_year + 1900);
  t.wMonth = static_cast<uint16_t>(utc.tm_mon + 1);
  t.wDayOfWeek = static_cast<uint16_t>(utc.tm_wday);
  t.wDay = static_cast<uint16_t>(utc.tm_mday);
  t.wHour = static_cast<uint16_t>(utc.tm_hour);
  t.wMinute = static_cast<uint16_t>(utc.tm_min);
  t.wSecond = static_cast<uint16_t>(utc.tm_sec);
  return t;
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

  uint32_t OpenPrinterA(const std::string& name, PrinterHandle* printer) override {
    *printer = nullptr;
    std::shared_ptr<Watch> watch = WatchFor(name);
    if (!watch) return kErrorInvalidPrinterName;
    auto* opened = new Printer;
    opened->watch = std::move(watch);
    std::lock_guard<std::mutex> lock(mutex);
    open.insert(opened);
    *printer = opened;
    return 0;
  }

  uint32_t EnumJobsA(PrinterHandle handle, uint32_t firstJob, uint32_t jobCount,
                    uint32_t level, uint8_t* buffer, uint32_t bufferSize, uint32_t* needed,
                    uint32_t* returned) override {
    *needed = 0;
    *returned = 0;
    Printer* printer = Find(handle);
    if (printer == nullptr) return kInvalidHandle;
    if (level != 1) return kErrorInvalidLevel;

    std::shared_ptr<const JobList> jobs = printer->sized;
    if (!jobs) {
      const uint32_t error = Current(*printer->watch, &jobs);
      if (error != 0) return error;
    }
    const std::size_t first = std::min<std::size_t>(firstJob, jobs->size());
    const std::size_t count = std::min<std::size_t>(jobCount, jobs->size() - first);
    uint64_t bytes = count * sizeof(JobInfo1);
    for (std::size_t i = first; i < first + count; ++i) {
      const Job& job = (*jobs)[i];
      bytes += printer->watch->queue.size() + 1;
      if (job.hasUser) bytes += job.user.size() + 1;
      if (job.hasTitle) bytes += job.title.size() + 1;
      if (job.hasHost) bytes += job.host.size() + 1;
    }
    if (bytes > UINT32_MAX) return kErrorNotEnoughMemory;
    *needed = static_cast<uint32_t>(bytes);
    if (bytes > bufferSize || (bytes > 0 && buffer == nullptr)) {
      // The call with a buffer of this size gets this very list.
      printer->sized = jobs;
      return kErrorInsufficientBuffer;
    }
    printer->sized.reset();
    printer->listed = true;

    auto* records = reinterpret_cast<JobInfo1*>(buffer);
    char* strings = reinterpret_cast<char*>(buffer + count * sizeof(JobInfo1));
    auto put = [&strings](const std::string& text) {
      char* start = strings;
      std::memcpy(start, text.c_str(), text.size() + 1);
      strings += text.size() + 1;
      return start;
    };
    for (std::size_t i = 0; i < count; ++i) {
      const Job& job = (*jobs)[first + i];
      JobInfo1 record{};
      record.JobId = job.id;
      record.pPrinterName = put(printer->watch->queue);
      record.pMachineName = job.hasHost ? put(job.host) : nullptr;
      record.pUserName = job.hasUser ? put(job.user) : nullptr;
      record.pDocument = job.hasTitle ? put(job.title) : nullptr;
      record.Status = job.status;
      record.Priority = job.priority;
      record.Position = static_cast<uint32_t>(first + i + 1);
      record.PagesPrinted = job.pagesPrinted;
      record.Submitted = ToSystemTime(job.created);
      std::memcpy(&records[i], &record, sizeof record);
    }
    *returned = static_cast<uint32_t>(count);
    return 0;
  }

  uint32_t ClosePrinter(PrinterHandle handle) override {
    Printer* printer = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto found = open.find(static_cast<Printer*>(handle));
      if (found == open.end()) return kInvalidHandle;
      printer = *found;
      open.erase(found);
    }
    // Upkeep of the subscription only where the server just answered, and
    // at most one request of it per poll.
    if (printer->listed) Upkeep(*printer->watch);
    delete printer;
    return 0;
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
  Printer* Find(PrinterHandle handle) {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = open.find(static_cast<Printer*>(handle));
    return found != open.end() && (*found)->magic == kPrinterMagic ? *found : nullptr;
  }

  // The watch of a printer name, made on first use; nullptr for a name that
  // is no queue. A name is parsed once (the default server is the process's
  // for good): opens come every 20 ms per queue.
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
    return watch.jobs && watch.jobs->empty() && watch.confirmed.load() &&
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

  uint32_t Current(Watch& watch, std::shared_ptr<const JobList>* jobs) {
    std::lock_guard<std::mutex> lock(watch.mutex);
    const auto now = SteadyClock::now();
    const uint64_t pushes = watch.pushes.load();
    if (AnswersFromLastFetch(watch, now - watch.fetched)) {
      *jobs = watch.jobs;
      return 0;
    }

    // A queue the server does not have is not asked for again at every look.
    if (now < watch.missingUntil) return kErrorInvalidPrinterName;

    ipp_t* request = NewRequest(IPP_OP_GET_JOBS, watch.printerUri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                 "not-completed");
    static const char* const wanted[] = {
        "job-id",           "job-originating-user-name", "job-name",
        "job-originating-host-name", "job-state", "job-priority",
        "job-impressions-completed", "time-at-creation"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(wanted)), nullptr, wanted);
    CupsResult result = client.Request(watch.server, request);
    if (result.failure != CupsFailure::kNone) {
      watch.jobs.reset();
      if (result.failure == CupsFailure::kUnreachable) return kErrorServerUnavailable;
      if (result.status == IPP_STATUS_ERROR_NOT_FOUND) {
        watch.missingUntil = now + kMissingFor;
        return kErrorInvalidPrinterName;
      }
      return kAccessDenied;
    }
    auto fresh = std::make_shared<const JobList>(ParseJobs(result.response));
    ippDelete(result.response);

    if (watch.jobs && watch.jobs->empty() && !fresh->empty() && watch.confirmed.load() &&
        pushes == watch.pushesAtFetch) {
      // A job came and no push told us: pushes are not to be relied on
      // until one arrives again.
      watch.confirmed.store(false);
      watch.unconfirmedSince = now;
    }
    watch.jobs = fresh;
    watch.fetched = now;
    watch.pushesAtFetch = pushes;
    watch.localAddress = result.localAddress;
    watch.reachedBySocket = watch.server.IsSocket();
    *jobs = fresh;
    return 0;
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
  std::set<Printer*> open;
};

}  // namespace

Spooler& PlatformSpooler() {
  static CupsSpooler service;
  return service;
}

}  // namespace pelko
