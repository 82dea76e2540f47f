#include "agent/platform/spooler.h"

#include <windows.h>
#include <winspool.h>

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pelko {

// The records EnumJobsA writes are handed to the core as they stand.
static_assert(sizeof(JobInfo1) == sizeof(JOB_INFO_1A));
static_assert(offsetof(JobInfo1, JobId) == offsetof(JOB_INFO_1A, JobId));
static_assert(offsetof(JobInfo1, pPrinterName) == offsetof(JOB_INFO_1A, pPrinterName));
static_assert(offsetof(JobInfo1, pMachineName) == offsetof(JOB_INFO_1A, pMachineName));
static_assert(offsetof(JobInfo1, pUserName) == offsetof(JOB_INFO_1A, pUserName));
static_assert(offsetof(JobInfo1, pDocument) == offsetof(JOB_INFO_1A, pDocument));
static_assert(offsetof(JobInfo1, pDatatype) == offsetof(JOB_INFO_1A, pDatatype));
static_assert(offsetof(JobInfo1, pStatus) == offsetof(JOB_INFO_1A, pStatus));
static_assert(offsetof(JobInfo1, Status) == offsetof(JOB_INFO_1A, Status));
static_assert(offsetof(JobInfo1, Priority) == offsetof(JOB_INFO_1A, Priority));
static_assert(offsetof(JobInfo1, Position) == offsetof(JOB_INFO_1A, Position));
static_assert(offsetof(JobInfo1, TotalPages) == offsetof(JOB_INFO_1A, TotalPages));
static_assert(offsetof(JobInfo1, PagesPrinted) == offsetof(JOB_INFO_1A, PagesPrinted));
static_assert(offsetof(JobInfo1, Submitted) == offsetof(JOB_INFO_1A, Submitted));
static_assert(sizeof(SystemTime) == sizeof(SYSTEMTIME));

namespace {

// An idle queue's last answer holds at most this long without a look.
constexpr ULONGLONG kSafetyLookMs = 1000;
// WaitForMultipleObjects serves 64 handles; one is the wake event.
constexpr std::size_t kMaxNotified = MAXIMUM_WAIT_OBJECTS - 1;

uint32_t Failed() {
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

// A queue someone wants to hear of: the spooler's own change notification
// on a printer handle kept for it.
struct Notified {
  HANDLE printer = nullptr;
  HANDLE change = INVALID_HANDLE_VALUE;
  bool opening = false;  // an add is opening them, without the lock
  std::vector<Signal*> signals;
  uint64_t changes = 0;  // notifications seen
  // Cleared when a look finds jobs that no notification announced (a
  // remote spooler that cannot call back); set again by a notification.
  bool trusted = true;
  // The last complete look: empty, at what tick, after how many changes.
  bool emptyAtLook = false;
  ULONGLONG lookedAt = 0;
  uint64_t changesAtLook = 0;
};

// Polls go through OpenPrinterA / EnumJobsA / ClosePrinter unchanged; a
// queue with change signals also has a notification (PRINTER_CHANGE_JOB),
// waited on by one thread, so that the watcher of an idle queue can sleep
// until the spooler reports a job change rather than look every 20 ms.
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

  uint32_t OpenPrinterA(const std::string& name, PrinterHandle* printer) override {
    *printer = nullptr;
    HANDLE handle = OpenNamed(name);
    if (handle == nullptr) return Failed();
    *printer = handle;
    std::lock_guard<std::mutex> lock(mutex);
    if (queues.count(name) != 0) names[handle] = name;
    return 0;
  }

  uint32_t EnumJobsA(PrinterHandle printer, uint32_t firstJob, uint32_t jobCount,
                    uint32_t level, uint8_t* buffer, uint32_t bufferSize, uint32_t* needed,
                    uint32_t* returned) override {
    // Taken before the call: a change during it makes the answer stale.
    uint64_t changesBefore = 0;
    Notified* notified = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto named = names.find(printer);
      if (named != names.end()) {
        notified = &queues[named->second];
        changesBefore = notified->changes;
      }
    }
    DWORD bytes = 0;
    DWORD count = 0;
    const BOOL ok = ::EnumJobsA(static_cast<HANDLE>(printer), firstJob, jobCount, level,
                                buffer, bufferSize, &bytes, &count);
    const uint32_t status = ok ? 0 : Failed();
    *needed = bytes;
    *returned = ok ? count : 0;
    if (notified != nullptr && firstJob == 0 && jobCount == 0xFFFFFFFF) {
      std::lock_guard<std::mutex> lock(mutex);
      // A size query that finds the buffer too small has found jobs too.
      const bool hasJobs = ok ? count != 0 : status == ERROR_INSUFFICIENT_BUFFER;
      if (hasJobs && notified->emptyAtLook && notified->changesAtLook == changesBefore) {
        notified->trusted = false;
      }
      notified->emptyAtLook = ok && count == 0;
      notified->lookedAt = GetTickCount64();
      notified->changesAtLook = changesBefore;
    }
    return status;
  }

  uint32_t ClosePrinter(PrinterHandle printer) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      names.erase(printer);
    }
    return ::ClosePrinter(static_cast<HANDLE>(printer)) ? 0 : Failed();
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
    HANDLE change = handle != nullptr
                        ? FindFirstPrinterChangeNotification(handle, PRINTER_CHANGE_JOB, 0, nullptr)
                        : INVALID_HANDLE_VALUE;
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
    // Without a notification the queue is simply looked at every 20 ms.
    if (change != INVALID_HANDLE_VALUE) SetEvent(wake);
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
    for (;;) {
      handles.assign(1, wake);
      owners.assign(1, std::string());
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) return;
        for (const auto& [name, notified] : queues) {
          if (notified.change == INVALID_HANDLE_VALUE) continue;
          handles.push_back(notified.change);
          owners.push_back(name);
        }
      }
      const DWORD got = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                               handles.data(), FALSE, INFINITE);
      if (got == WAIT_OBJECT_0) continue;
      if (got <= WAIT_OBJECT_0 || got >= WAIT_OBJECT_0 + handles.size()) {
        // Cannot wait: stop vouching for any queue, which are then looked
        // at every 20 ms.
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& [name, notified] : queues) Forget(notified);
        return;
      }
      // Rearmed before the watchers are woken, so a change after their look
      // fires again. Only this thread closes notifications.
      HANDLE change = handles[got - WAIT_OBJECT_0];
      DWORD what = 0;
      const BOOL rearmed = FindNextPrinterChangeNotification(change, &what, nullptr, nullptr);
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) return;
      Notified& notified = queues[owners[got - WAIT_OBJECT_0]];
      ++notified.changes;
      notified.trusted = true;
      for (Signal* changed : notified.signals) changed->Set();
      // One that cannot be rearmed would fire for ever; the queue goes back
      // to looks every 20 ms.
      if (!rearmed) Forget(notified);
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
  std::map<std::string, Notified> queues;
  std::map<PrinterHandle, std::string> names;  // open handles of queues in `queues`
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
