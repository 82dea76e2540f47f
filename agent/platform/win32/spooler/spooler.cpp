// The Windows spooler: each listing joined with the journal of what the
// notifications told, and one watcher thread that waits on them.
#include "agent/platform/spooler.h"

#include <windows.h>
#include <winspool.h>

#include <cstddef>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agent/platform/spool_names.h"
#include "agent/platform/win32/spooler/job_journal.h"
#include "agent/platform/win32/spooler/job_listing.h"
#include "agent/platform/win32/spooler/job_notices.h"
#include "agent/platform/win32/spooler/page_counters.h"

namespace pelko {

namespace {

// An idle queue's last answer holds at most this long without a look.
constexpr ULONGLONG kSafetyLookMs = 1000;
// WaitForMultipleObjects serves 64 handles; one is the wake event.
constexpr std::size_t kMaxNotified = MAXIMUM_WAIT_OBJECTS - 1;
// How long a listing waits for the watcher to take in a notification that
// was pending when the spooler answered.
constexpr auto kNewsWait = std::chrono::milliseconds(100);
// How often the watcher lists a queue with jobs whose spooler sends no job
// fields, to journal what the notifications would have told.
constexpr DWORD kJournalPollMs = 20;
// How long a printer's colour capability is taken as known: asking loads
// its driver, and a printer's driver is seldom changed. One that could not
// be told is asked again sooner.
constexpr ULONGLONG kColorKeptMs = 10 * 60 * 1000;
constexpr ULONGLONG kColorUnknownMs = 60 * 1000;

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
      Forget(notified);
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
    std::vector<SpoolerJobNote> queued;
    HANDLE printer = OpenNamed(queue);
    if (printer == nullptr) return SpoolStatusOf(GetLastError());
    const SpoolStatus status = EnumOpen(printer, &queued);
    if (status == SpoolStatus::kOk) AddDetails(queue, printer, &queued);
    ::ClosePrinter(printer);
    if (status != SpoolStatus::kOk) return status;
    AwaitPendingNews(queue);

    auto* mine = dynamic_cast<Win32JobCursor*>(cursor->get());
    std::unique_ptr<Win32JobCursor> fresh;
    if (mine == nullptr) {
      fresh = std::make_unique<Win32JobCursor>(until);
      mine = fresh.get();
    }
    std::map<uint32_t, SpoolerJobNote> news;
    std::vector<uint32_t> before;
    bool countsPages = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      NoteLook(queue, queued, changesBefore);
      JobJournal& journal = journals[queue];
      journal.Read(mine->position, until, &news, &before);
      bool& counts = countingQueues[queue];
      for (const SpoolerJobNote& record : queued) counts = counts || record.pages.value_or(0) > 0;
      counts = counts || journal.CountsPages();
      countsPages = counts;
    }
    TellJobs(queued, news, before, countsPages, until, mine, jobs);
    if (!jobs->empty()) {
      const std::optional<bool> color = ColorDevice(queue);
      for (SpoolJob& job : *jobs) {
        job.details.printerColor = color;
        NamesForLog(job, NamesUtf8());
      }
    }
    if (fresh) *cursor = std::move(fresh);
    return SpoolStatus::kOk;
  }

  SpoolStatus ReadPageTotal(const std::string& queue, uint32_t* total) override {
    return pageCounters.ReadPageTotal(queue, total);
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
    if (handle != nullptr) change = OpenJobNotice(handle, &fields);
    std::lock_guard<std::mutex> lock(mutex);
    Notified& notified = queues[name];
    notified.opening = false;
    if (stopping || handle == nullptr || !StartWatcher()) {
      CloseJobNotice(change);
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
    if (notified.change == INVALID_HANDLE_VALUE || !notified.trusted || !notified.emptyAtLook ||
        notified.changes != notified.changesAtLook) {
      return 0;
    }
    const ULONGLONG age = GetTickCount64() - notified.lookedAt;
    return age < kSafetyLookMs ? static_cast<uint32_t>(kSafetyLookMs - age) : 0;
  }

 private:
  struct ColorKnown {
    std::optional<bool> color;
    ULONGLONG at = 0;
  };

  // Each listed job's details, asked of the spooler for the jobs not yet
  // known. Not under the lock while it is asked: a remote spooler may be
  // slow.
  void AddDetails(const std::string& queue, HANDLE printer, std::vector<SpoolerJobNote>* queued) {
    std::vector<uint32_t> unknown;
    {
      std::lock_guard<std::mutex> lock(mutex);
      unknown = details[queue].Fill(queued);
    }
    if (unknown.empty()) return;
    std::map<uint32_t, JobDetails> read;
    for (uint32_t id : unknown) read[id] = ReadJobDetails(printer, id);
    std::lock_guard<std::mutex> lock(mutex);
    DetailsBook& book = details[queue];
    for (const SpoolerJobNote& record : *queued) {
      auto at = read.find(record.id);
      if (at != read.end()) book.Keep(record, at->second);
    }
    book.Fill(queued);
  }

  std::optional<bool> ColorDevice(const std::string& queue) {
    const ULONGLONG now = GetTickCount64();
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto found = colors.find(queue);
      if (found != colors.end() &&
          now - found->second.at < (found->second.color ? kColorKeptMs : kColorUnknownMs)) {
        return found->second.color;
      }
    }
    const std::optional<bool> color = ReadColorDevice(queue);
    std::lock_guard<std::mutex> lock(mutex);
    colors[queue] = ColorKnown{color, now};
    return color;
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
  void NoteLook(const std::string& queue, const std::vector<SpoolerJobNote>& queued,
                uint64_t changesBefore) {
    auto found = queues.find(queue);
    if (found == queues.end()) return;
    Notified& notified = found->second;
    bool hasJobs = false;
    for (const SpoolerJobNote& record : queued) hasJobs = hasJobs || !IsFinished(record);
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
      const DWORD got = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                               FALSE, polled.empty() ? INFINITE : kJournalPollMs);
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
      std::vector<SpoolerJobNote> news;
      const bool rearmed = TakeNews(handles[index], withFields[index], &news);
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) return;
      Notified& notified = queues[owners[index]];
      JobJournal& journal = journals[owners[index]];
      for (const SpoolerJobNote& record : news) journal.Learn(++journalSeq, record);
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
    std::vector<SpoolerJobNote> queued;
    const bool listed = EnumOpen(printer, &queued) == SpoolStatus::kOk;
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping || !listed) return;
    Notified& notified = queues[name];
    JobJournal& journal = journals[name];
    std::map<uint32_t, SpoolerJobNote> now;
    for (const SpoolerJobNote& record : queued) {
      now[record.id] = record;
      auto before = notified.polled.find(record.id);
      if (before == notified.polled.end() || before->second != record) {
        journal.Learn(++journalSeq, record);
      }
    }
    for (const auto& [id, record] : notified.polled) {
      if (now.count(id) != 0) continue;
      SpoolerJobNote gone{id, {}, {}, kWinJobDeleted, {}, 0, {}};
      journal.Learn(++journalSeq, gone);
    }
    notified.polled = std::move(now);
  }

  PageCounters pageCounters;      // under a lock of its own
  std::mutex mutex;               // everything below
  std::condition_variable taken;  // the watcher took in a notification
  std::map<std::string, Notified> queues;
  std::map<std::string, JobJournal> journals;
  std::map<std::string, bool> countingQueues;  // a job of it told a page printed
  std::map<std::string, DetailsBook> details;
  std::map<std::string, ColorKnown> colors;  // each printer's, asked now and then
  uint64_t journalSeq = 0;                   // the last entry journaled, of any queue
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
