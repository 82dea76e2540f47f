#include "agent/platform/spooler.h"

#include <windows.h>
#include <winspool.h>

#include <cmath>
#include <cstddef>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "agent/platform/pdh/perf_counter.h"
#include "agent/platform/system_info.h"
#include "agent/platform/win32/job_journal.h"

namespace pelko {

static_assert(kWinJobPrinting == JOB_STATUS_PRINTING);
static_assert(kWinJobPrinted == JOB_STATUS_PRINTED);
static_assert(kWinJobDeleting == JOB_STATUS_DELETING);
static_assert(kWinJobDeleted == JOB_STATUS_DELETED);

namespace {

// An idle queue's last answer holds at most this long without a look.
constexpr ULONGLONG kSafetyLookMs = 1000;
// WaitForMultipleObjects serves 64 handles; one is the wake event.
constexpr std::size_t kMaxNotified = MAXIMUM_WAIT_OBJECTS - 1;
// Size queries of a list that keeps growing between the query and the read.
constexpr int kEnumAttempts = 4;
// Refreshes asked in a row while the spooler keeps discarding.
constexpr int kRefreshAttempts = 3;
// How long a listing waits for the watcher to take in a notification that
// was pending when the spooler answered.
constexpr auto kNewsWait = std::chrono::milliseconds(100);
// How often the watcher lists a queue with jobs whose spooler sends no job
// fields, to journal what the notifications would have told.
constexpr DWORD kJournalPollMs = 20;

// The job fields the notifications are asked to carry.
WORD kJobFields[] = {JOB_NOTIFY_FIELD_USER_NAME, JOB_NOTIFY_FIELD_DOCUMENT,
                     JOB_NOTIFY_FIELD_STATUS, JOB_NOTIFY_FIELD_PAGES_PRINTED};

PRINTER_NOTIFY_OPTIONS_TYPE kJobType = {JOB_NOTIFY_TYPE, 0, 0, 0,
                                        sizeof kJobFields / sizeof kJobFields[0], kJobFields};

PRINTER_NOTIFY_OPTIONS JobOptions(DWORD flags) {
  return PRINTER_NOTIFY_OPTIONS{2, flags, 1, &kJobType};
}

SpoolStatus FromError(DWORD error) {
  switch (error) {
    case ERROR_INVALID_PRINTER_NAME:
    case ERROR_INVALID_HANDLE:
      return SpoolStatus::kNoQueue;
    case RPC_S_SERVER_UNAVAILABLE:
    case RPC_S_CALL_FAILED:
      return SpoolStatus::kUnavailable;
    default:
      return SpoolStatus::kFailed;
  }
}

SpoolStatus FromPdh(PdhStatus status) {
  switch (status) {
    case kPdhCstatusNoInstance:
      return SpoolStatus::kNoQueue;
    case kPdhCstatusNoMachine:
      return SpoolStatus::kUnavailable;
    default:
      return SpoolStatus::kFailed;
  }
}

std::optional<std::string> Text(const char* text) {
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

// Notification strings are UTF-16 whichever way the printer was opened.
std::optional<std::string> WideText(const PRINTER_NOTIFY_INFO_DATA& data) {
  const auto* wide = static_cast<const wchar_t*>(data.NotifyData.Data.pBuf);
  if (wide == nullptr) return std::nullopt;
  const int length = static_cast<int>(wcsnlen(wide, data.NotifyData.Data.cbBuf / sizeof(wchar_t)));
  if (length == 0) return std::string();
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::nullopt;
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, length, text.data(), bytes, nullptr, nullptr);
  return text;
}

// Truncated toward zero, then taken modulo 2^32 like a conversion of the
// integer; what is no number at all reads as 0.
uint32_t ToPageTotal(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 9.0e18) return 0;
  return static_cast<uint32_t>(static_cast<int64_t>(value));
}

// "\\<machine>\Print Queue(<instance>)\Total Pages Printed": a remote
// queue's counter is on its server, a local one on this computer.
std::string CounterPath(const std::string& queue) {
  std::string machine;
  std::string instance;
  const std::size_t last = queue.rfind('\\');
  if (last != std::string::npos) {
    const std::string before = queue.substr(0, last);
    for (std::size_t i = 0; i < before.size(); ++i) {
      if (before[i] == '\\' && i + 1 < before.size() && before[i + 1] == '\\') {
        ++i;
        continue;
      }
      machine += before[i];
    }
    instance = queue.substr(last + 1);
  } else {
    char name[16] = {};
    uint32_t size = sizeof name;
    if (PlatformSystemInfo().GetComputerNameA(name, &size) == 0) {
      machine.assign(name, strnlen(name, sizeof name));
    }
    instance = queue;
  }
  return "\\\\" + machine + "\\Print Queue(" + instance + ")\\Total Pages Printed";
}

// A queue someone wants to hear of: the spooler's own change notification
// on a printer handle kept for it, and the job fields it brought.
struct Notified {
  HANDLE printer = nullptr;
  HANDLE change = INVALID_HANDLE_VALUE;
  bool fields = false;   // the notification carries job fields
  bool opening = false;  // an add is opening them, without the lock
  std::vector<Signal*> signals;
  uint64_t changes = 0;  // notifications seen
  // Cleared when a look finds jobs that no notification announced (a
  // remote spooler that cannot call back); set again by a notification.
  bool trusted = true;
  // The last complete look: no jobs to watch, at what tick, after how many
  // changes.
  bool emptyAtLook = false;
  ULONGLONG lookedAt = 0;
  uint64_t changesAtLook = 0;
  // Without job fields: the jobs of the watcher's last own listing.
  std::map<uint32_t, JobRecord> polled;
};

// Lists its jobs in the watcher instead of the notifications telling them.
bool NeedsPolling(const Notified& notified) {
  return notified.printer != nullptr && !notified.emptyAtLook &&
         (notified.change == INVALID_HANDLE_VALUE || !notified.fields);
}

bool SameRecord(const JobRecord& a, const JobRecord& b) {
  return a.user == b.user && a.document == b.document && a.status == b.status &&
         a.pages == b.pages;
}

// A queue's page counter, kept open between readings so that its ring of
// samples goes on.
struct PageCounter {
  std::mutex mutex;  // one reading at a time
  PerfCounterSet set{&PlatformPerfData()};
};

// Listings go through OpenPrinterA / EnumJobsA / ClosePrinter; a queue with
// change signals also has a notification (PRINTER_CHANGE_JOB, with the job
// fields where the spooler gives them), waited on by one thread, so that
// the watcher of an idle queue can sleep until the spooler reports a job
// change rather than look every 20 ms, and so that a job that comes and
// goes between two listings is still told.
class Win32Spooler : public Spooler {
 public:
  ~Win32Spooler() override {
    HANDLE thread = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
      thread = watcher;
      watcher = nullptr;
    }
    if (thread != nullptr) {
      SetEvent(wake);
      WaitForSingleObject(thread, 2000);
      CloseHandle(thread);
    }
    for (auto& [name, notified] : queues) {
      if (notified.change != INVALID_HANDLE_VALUE) {
        FindClosePrinterChangeNotification(notified.change);
      }
      if (notified.printer != nullptr) ::ClosePrinter(notified.printer);
    }
    if (wake != nullptr) CloseHandle(wake);
  }

  SpoolStatus ListJobs(const std::string& queue, std::unique_ptr<JobCursor>* cursor,
                       std::vector<SpoolJob>* jobs) override {
    jobs->clear();
    if (queue.empty()) return SpoolStatus::kNoQueue;
    // Taken before the spooler is asked: what is journaled after it may
    // be of jobs the list below does not hold yet.
    uint64_t until = 0;
    uint64_t changesBefore = 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      until = journalSeq + 1;
      auto found = queues.find(queue);
      if (found != queues.end()) changesBefore = found->second.changes;
    }
    std::vector<JobRecord> queued;
    const SpoolStatus status = EnumQueue(queue, &queued);
    if (status != SpoolStatus::kOk) return status;
    AwaitPendingNews(queue);

    auto* mine = dynamic_cast<Win32JobCursor*>(cursor->get());
    std::unique_ptr<Win32JobCursor> fresh;
    if (mine == nullptr) {
      fresh = std::make_unique<Win32JobCursor>(until);
      mine = fresh.get();
    }
    std::map<uint32_t, JobRecord> news;
    std::vector<uint32_t> before;
    bool countsPages = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      NoteLook(queue, queued, changesBefore);
      JobJournal& journal = journals[queue];
      journal.Read(mine->position, until, &news, &before);
      bool& counts = countingQueues[queue];
      for (const JobRecord& record : queued) counts = counts || record.pages.value_or(0) > 0;
      counts = counts || journal.CountsPages();
      countsPages = counts;
    }
    TellJobs(queued, news, before, countsPages, fresh != nullptr, until, mine, jobs);
    if (fresh) *cursor = std::move(fresh);
    return SpoolStatus::kOk;
  }

  SpoolStatus ReadPageTotal(const std::string& queue, uint32_t* total) override {
    if (queue.empty()) return SpoolStatus::kNoQueue;
    PageCounter* counter = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto& slot = counters[queue];
      if (!slot) slot = std::make_unique<PageCounter>();
      counter = slot.get();
    }
    std::lock_guard<std::mutex> reading(counter->mutex);
    PerfCounterSet& set = counter->set;
    struct Closer {
      PerfCounterSet& set;
      ~Closer() { set.Close(); }
    } closer{set};
    PdhStatus pdh = set.Open();
    if (pdh == 0 && set.CounterCount() == 0) pdh = set.AddCounter(CounterPath(queue));
    if (pdh != 0) return FromPdh(pdh);
    PerfCounter* page = set.CounterAt(0);
    pdh = set.Collect();
    if (pdh == 0) pdh = page->Fetch();
    if (pdh != 0) return FromPdh(pdh);
    *total = ToPageTotal(page->Value(ValueKind::Last));
    return SpoolStatus::kOk;
  }

  void AddChangeSignal(const std::string& name, Signal* changed) override {
    if (changed == nullptr) return;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) return;
      Notified& notified = queues[name];
      notified.signals.push_back(changed);
      if (notified.opening || notified.printer != nullptr || Watching() >= kMaxNotified) return;
      notified.opening = true;
    }
    // Not under the lock: opening a queue on another computer can take long,
    // and every look of every queue takes the lock.
    HANDLE handle = OpenNamed(name);  // failed: asked again at the next add
    bool fields = true;
    HANDLE change = INVALID_HANDLE_VALUE;
    if (handle != nullptr) {
      PRINTER_NOTIFY_OPTIONS options = JobOptions(0);
      change = FindFirstPrinterChangeNotification(handle, PRINTER_CHANGE_JOB, 0, &options);
      if (change == INVALID_HANDLE_VALUE) {
        // A spooler that cannot send fields can still say that jobs changed.
        fields = false;
        change = FindFirstPrinterChangeNotification(handle, PRINTER_CHANGE_JOB, 0, nullptr);
      }
    }
    std::lock_guard<std::mutex> lock(mutex);
    Notified& notified = queues[name];
    notified.opening = false;
    if (stopping || handle == nullptr || !StartWatcher()) {
      if (change != INVALID_HANDLE_VALUE) FindClosePrinterChangeNotification(change);
      if (handle != nullptr) ::ClosePrinter(handle);
      return;
    }
    notified.printer = handle;
    notified.change = change;
    notified.fields = fields;
    // Without a notification the queue is looked at every 20 ms, and the
    // watcher lists it while it has jobs.
    SetEvent(wake);
  }

  void RemoveChangeSignal(const std::string& name, Signal* changed) override {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = queues.find(name);
    if (found == queues.end()) return;
    auto& signals = found->second.signals;
    for (auto at = signals.begin(); at != signals.end(); ++at) {
      if (*at == changed) {
        signals.erase(at);
        break;
      }
    }
  }

  uint32_t QuietMs(const std::string& name) override {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = queues.find(name);
    if (found == queues.end()) return 0;
    const Notified& notified = found->second;
    if (notified.change == INVALID_HANDLE_VALUE || !notified.trusted ||
        !notified.emptyAtLook || notified.changes != notified.changesAtLook) {
      return 0;
    }
    const ULONGLONG age = GetTickCount64() - notified.lookedAt;
    return age < kSafetyLookMs ? static_cast<uint32_t>(kSafetyLookMs - age) : 0;
  }

 private:
  // OpenPrinterA takes a writable string. nullptr when it fails.
  static HANDLE OpenNamed(const std::string& name) {
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    HANDLE handle = nullptr;
    return ::OpenPrinterA(text.data(), &handle, nullptr) ? handle : nullptr;
  }

  // The queue's jobs through OpenPrinterA / EnumJobsA level 1 / ClosePrinter.
  static SpoolStatus EnumQueue(const std::string& queue, std::vector<JobRecord>* records) {
    HANDLE printer = OpenNamed(queue);
    if (printer == nullptr) return FromError(GetLastError());
    const SpoolStatus status = EnumOpen(printer, records);
    ::ClosePrinter(printer);
    return status;
  }

  static SpoolStatus EnumOpen(HANDLE printer, std::vector<JobRecord>* records) {
    std::unique_ptr<uint8_t[]> buffer;
    DWORD size = 0;
    for (int attempt = 0; attempt < kEnumAttempts; ++attempt) {
      DWORD needed = 0;
      DWORD returned = 0;
      if (::EnumJobsA(printer, 0, 0xFFFFFFFF, 1, buffer.get(), size, &needed, &returned)) {
        // The records and the texts they point to lie within the buffer.
        if (returned > 0 && (buffer == nullptr || returned > size / sizeof(JOB_INFO_1A))) {
          return SpoolStatus::kFailed;
        }
        const auto* jobs = reinterpret_cast<const JOB_INFO_1A*>(buffer.get());
        for (DWORD i = 0; i < returned; ++i) records->push_back(Record(jobs[i]));
        return SpoolStatus::kOk;
      }
      const DWORD error = GetLastError();
      if (error != ERROR_INSUFFICIENT_BUFFER || needed <= size) return FromError(error);
      buffer.reset(new (std::nothrow) uint8_t[needed]);
      if (!buffer) return SpoolStatus::kFailed;
      size = needed;
    }
    return SpoolStatus::kFailed;  // grew at every look
  }

  static JobRecord Record(const JOB_INFO_1A& info) {
    JobRecord record;
    record.id = info.JobId;
    record.user = Text(info.pUserName);
    record.document = Text(info.pDocument);
    record.status = info.Status;
    record.pages = info.PagesPrinted;
    return record;
  }

  // A job that left just before the spooler answered may have its last
  // pages in a notification not yet taken in: worth a short wait, since
  // the listing would otherwise tell it with fewer pages than it printed.
  void AwaitPendingNews(const std::string& queue) {
    std::unique_lock<std::mutex> lock(mutex);
    auto found = queues.find(queue);
    if (found == queues.end()) return;
    Notified& notified = found->second;
    if (!notified.fields || notified.change == INVALID_HANDLE_VALUE ||
        WaitForSingleObject(notified.change, 0) != WAIT_OBJECT_0) {
      return;
    }
    const uint64_t changes = notified.changes;
    taken.wait_for(lock, kNewsWait, [&] {
      return stopping || notified.changes != changes || notified.change == INVALID_HANDLE_VALUE;
    });
  }

  // Under mutex: keeps the facts QuietMs vouches with.
  void NoteLook(const std::string& queue, const std::vector<JobRecord>& queued,
                uint64_t changesBefore) {
    auto found = queues.find(queue);
    if (found == queues.end()) return;
    Notified& notified = found->second;
    bool hasJobs = false;
    for (const JobRecord& record : queued) hasJobs = hasJobs || !IsFinished(record);
    if (hasJobs && notified.emptyAtLook && notified.changesAtLook == changesBefore) {
      notified.trusted = false;
    }
    const bool polling = NeedsPolling(notified);
    notified.emptyAtLook = !hasJobs;
    if (!polling && NeedsPolling(notified) && wake != nullptr) SetEvent(wake);
    notified.lookedAt = GetTickCount64();
    notified.changesAtLook = changesBefore;
  }

  // Under mutex.
  std::size_t Watching() const {
    std::size_t count = 0;
    for (const auto& [name, notified] : queues) {
      count += notified.change != INVALID_HANDLE_VALUE || notified.opening;
    }
    return count;
  }

  // Under mutex.
  bool StartWatcher() {
    if (watcher != nullptr) return true;
    if (wake == nullptr) wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wake == nullptr) return false;
    watcher = CreateThread(nullptr, 0, &Win32Spooler::WatchEntry, this, 0, nullptr);
    return watcher != nullptr;
  }

  static DWORD WINAPI WatchEntry(void* self) {
    static_cast<Win32Spooler*>(self)->Watch();
    return 0;
  }

  void Watch() {
    std::vector<HANDLE> handles;
    std::vector<std::string> owners;
    std::vector<bool> withFields;
    std::vector<std::pair<std::string, HANDLE>> polled;
    for (;;) {
      handles.assign(1, wake);
      owners.assign(1, std::string());
      withFields.assign(1, false);
      polled.clear();
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) return;
        for (const auto& [name, notified] : queues) {
          if (NeedsPolling(notified)) polled.emplace_back(name, notified.printer);
          if (notified.change == INVALID_HANDLE_VALUE) continue;
          handles.push_back(notified.change);
          owners.push_back(name);
          withFields.push_back(notified.fields);
        }
      }
      const DWORD got = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                               handles.data(), FALSE,
                                               polled.empty() ? INFINITE : kJournalPollMs);
      if (got == WAIT_TIMEOUT) {
        for (const auto& [name, printer] : polled) PollIntoJournal(name, printer);
        continue;
      }
      if (got == WAIT_OBJECT_0) continue;
      if (got <= WAIT_OBJECT_0 || got >= WAIT_OBJECT_0 + handles.size()) {
        // Cannot wait: stop vouching for any queue, which are then looked
        // at every 20 ms.
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& [name, notified] : queues) Forget(notified);
        taken.notify_all();
        return;
      }
      // Rearmed before the watchers are woken, so a change after their look
      // fires again. Only this thread closes notifications.
      const std::size_t index = got - WAIT_OBJECT_0;
      std::vector<JobRecord> news;
      const bool rearmed = TakeNews(handles[index], withFields[index], &news);
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) return;
      Notified& notified = queues[owners[index]];
      JobJournal& journal = journals[owners[index]];
      for (const JobRecord& record : news) journal.Learn(++journalSeq, record);
      ++notified.changes;
      notified.trusted = true;
      for (Signal* changed : notified.signals) changed->Set();
      // One that cannot be rearmed would fire for ever; the queue goes back
      // to looks every 20 ms.
      if (!rearmed) Forget(notified);
      taken.notify_all();
    }
  }

  // A spooler that tells no job fields (a remote one that cannot call
  // back, or one that refuses them): while its queue has jobs, the watcher
  // lists it itself and journals what changed, so that jobs that come and
  // go during a printer worker's 2-second passes are still told.
  void PollIntoJournal(const std::string& name, HANDLE printer) {
    std::vector<JobRecord> queued;
    const bool listed = EnumOpen(printer, &queued) == SpoolStatus::kOk;
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping || !listed) return;
    Notified& notified = queues[name];
    JobJournal& journal = journals[name];
    std::map<uint32_t, JobRecord> now;
    for (const JobRecord& record : queued) {
      now[record.id] = record;
      auto before = notified.polled.find(record.id);
      if (before == notified.polled.end() || !SameRecord(before->second, record)) {
        journal.Learn(++journalSeq, record);
      }
    }
    for (const auto& [id, record] : notified.polled) {
      if (now.count(id) != 0) continue;
      JobRecord gone{id, {}, {}, kWinJobDeleted, {}};
      journal.Learn(++journalSeq, gone);
    }
    notified.polled = std::move(now);
  }

  // FindNextPrinterChangeNotification, and the job fields it brought. When
  // the spooler had to discard some, it is asked for every job's fields
  // afresh. False when the notification cannot be rearmed.
  static bool TakeNews(HANDLE change, bool fields, std::vector<JobRecord>* news) {
    DWORD what = 0;
    PRINTER_NOTIFY_INFO* info = nullptr;
    if (!FindNextPrinterChangeNotification(change, &what, nullptr,
                                           fields ? reinterpret_cast<void**>(&info) : nullptr)) {
      return false;
    }
    for (int attempt = 0; info != nullptr && (info->Flags & PRINTER_NOTIFY_INFO_DISCARDED) != 0 &&
                          attempt < kRefreshAttempts;
         ++attempt) {
      FreePrinterNotifyInfo(info);
      info = nullptr;
      PRINTER_NOTIFY_OPTIONS refresh = JobOptions(PRINTER_NOTIFY_OPTIONS_REFRESH);
      if (!FindNextPrinterChangeNotification(change, &what, &refresh,
                                             reinterpret_cast<void**>(&info))) {
        info = nullptr;
      }
    }
    if (info == nullptr) return true;
    if ((info->Flags & PRINTER_NOTIFY_INFO_DISCARDED) == 0) Collect(*info, news);
    FreePrinterNotifyInfo(info);
    return true;
  }

  // The fields of each job told, in the order the jobs first appear.
  static void Collect(const PRINTER_NOTIFY_INFO& info, std::vector<JobRecord>* news) {
    std::map<uint32_t, std::size_t> at;
    for (DWORD i = 0; i < info.Count; ++i) {
      const PRINTER_NOTIFY_INFO_DATA& data = info.aData[i];
      if (data.Type != JOB_NOTIFY_TYPE) continue;
      auto [slot, added] = at.emplace(data.Id, news->size());
      if (added) news->push_back(JobRecord{data.Id, {}, {}, {}, {}});
      JobRecord& record = (*news)[slot->second];
      switch (data.Field) {
        case JOB_NOTIFY_FIELD_USER_NAME:
          record.user = WideText(data);
          break;
        case JOB_NOTIFY_FIELD_DOCUMENT:
          record.document = WideText(data);
          break;
        case JOB_NOTIFY_FIELD_STATUS:
          record.status = data.NotifyData.adwData[0];
          break;
        case JOB_NOTIFY_FIELD_PAGES_PRINTED:
          record.pages = data.NotifyData.adwData[0];
          break;
        default:
          break;
      }
    }
  }

  // Under mutex.
  static void Forget(Notified& notified) {
    if (notified.change != INVALID_HANDLE_VALUE) {
      FindClosePrinterChangeNotification(notified.change);
    }
    notified.change = INVALID_HANDLE_VALUE;
  }

  std::mutex mutex;  // everything below
  std::condition_variable taken;  // the watcher took in a notification
  std::map<std::string, Notified> queues;
  std::map<std::string, JobJournal> journals;
  std::map<std::string, bool> countingQueues;  // a job of it told a page printed
  std::map<std::string, std::unique_ptr<PageCounter>> counters;
  uint64_t journalSeq = 0;  // the last entry journaled, of any queue
  HANDLE wake = nullptr;
  HANDLE watcher = nullptr;
  bool stopping = false;
};

}  // namespace

Spooler& PlatformSpooler() {
  static Win32Spooler service;
  return service;
}

}  // namespace pelko
