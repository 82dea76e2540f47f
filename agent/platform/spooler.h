// Print spooler service: the three winspool calls the printer threads make,
// with Win32's contract on every platform, so the buffer handling of a poll
// is the same code everywhere. On POSIX the queues are CUPS queues: a name
// "Office" is the queue Office of the default server, "\\host\Office" the
// queue Office on the server host.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/platform/clock.h"

namespace pelko {

using PrinterHandle = void*;  // an open printer; nullptr is none

// Win32 error codes the spooler reports (besides those of registry.h).
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorInvalidLevel = 124;
inline constexpr uint32_t kErrorServerUnavailable = 1722;  // RPC_S_SERVER_UNAVAILABLE
inline constexpr uint32_t kErrorInvalidPrinterName = 1801;

// JOB_STATUS_* bits of JobInfo1::Status.
inline constexpr uint32_t kJobStatusPaused = 0x0001;
inline constexpr uint32_t kJobStatusError = 0x0002;
inline constexpr uint32_t kJobStatusPrinting = 0x0010;
inline constexpr uint32_t kJobStatusPrinted = 0x0080;

// SYSTEMTIME.
struct SystemTime {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

// JOB_INFO_1A, laid out exactly like it (checked on Win32). Its texts point
// into the buffer that EnumJobs filled; any of them may be nullptr.
struct JobInfo1 {
  uint32_t JobId;
  char* pPrinterName;
  char* pMachineName;
  char* pUserName;
  char* pDocument;
  char* pDatatype;
  char* pStatus;
  uint32_t Status;
  uint32_t Priority;
  uint32_t Position;
  uint32_t TotalPages;
  uint32_t PagesPrinted;
  SystemTime Submitted;
};

// What became of a spooler call.
enum class SpoolStatus {
  kOk,
  kNoQueue,      // the spooler has no such queue, or the name is none
  kUnavailable,  // the spooler (or the server of a remote queue) does not answer
  kFailed,       // any other failure: refused, out of memory, a damaged answer
};

enum class JobState {
  kWaiting,   // in the queue, not printing (also held or paused)
  kPrinting,  // being printed now
  kEnded,     // left the queue: printed, cancelled or aborted
};

// One job as the spooler tells of it.
struct SpoolJob {
  uint32_t id = 0;
  std::optional<std::string> user;  // none where the spooler gives none
  std::optional<std::string> document;
  JobState state = JobState::kWaiting;
  // The pages (impressions, copies included) the spooler says the job has
  // printed so far; final once the job has ended. None where the spooler
  // or its driver does not count them per job.
  std::optional<uint32_t> pagesPrinted;
};

// What one watcher of a queue carries from one listing to the next, so that
// the spooler can tell it which jobs ended in between. Made by the spooler
// at the first listing; one per watcher, never shared between threads.
class JobCursor {
 public:
  virtual ~JobCursor() = default;
};

class Spooler {
 public:
  virtual ~Spooler() = default;

  // The jobs of the named queue: first those in it now, in the spooler's
  // order, then every job that has left it since the previous listing with
  // this cursor (kEnded, with its final pages), each told once. This
  // includes a job that came and went between the two listings. A null
  // cursor starts a new one, from now: it tells no ended jobs. On anything
  // but kOk, jobs is empty and the cursor is left as it was.
  virtual SpoolStatus ListJobs(const std::string& /*queue*/,
                               std::unique_ptr<JobCursor>* /*cursor*/,
                               std::vector<SpoolJob>* jobs) {
    jobs->clear();
    return SpoolStatus::kFailed;
  }
  // The queue's page counter: the pages printed on the queue, rising by
  // each page as it is printed. It may fall when the spooler restarts.
  virtual SpoolStatus ReadPageTotal(const std::string& /*queue*/, uint32_t* /*total*/) {
    return SpoolStatus::kFailed;
  }

  // OpenPrinterA without PRINTER_DEFAULTS. 0 or the error code.
  virtual uint32_t OpenPrinterA(const std::string& /*name*/, PrinterHandle* printer) {
    *printer = nullptr;
    return kErrorInvalidPrinterName;
  }
  // EnumJobsA. Fills buffer with *returned records followed by their texts
  // and sets *needed to the bytes that took. When the records do not fit in
  // bufferSize it fails with kErrorInsufficientBuffer, *needed telling the
  // size to ask for; buffer may then be nullptr. An empty list fits in any
  // buffer. Only level 1 is served. 0 or the error code.
  virtual uint32_t EnumJobsA(PrinterHandle /*printer*/, uint32_t /*firstJob*/,
                            uint32_t /*jobCount*/, uint32_t /*level*/, uint8_t* /*buffer*/,
                            uint32_t /*bufferSize*/, uint32_t* /*needed*/,
                            uint32_t* /*returned*/) {
    return kErrorInvalidLevel;
  }
  // ClosePrinter. 0 or the error code.
  virtual uint32_t ClosePrinter(PrinterHandle /*printer*/) { return 0; }

  // Not Win32: lets the watcher of an idle queue sleep through looks whose
  // answer is already known, where the spooler is told of every change.
  // Until removed, `changed` is set whenever the named queue may have
  // changed. Removing one that was never added does nothing.
  virtual void AddChangeSignal(const std::string& /*name*/, Signal* /*changed*/) {}
  virtual void RemoveChangeSignal(const std::string& /*name*/, Signal* /*changed*/) {}
  // How long, in ms, the last job list of the named queue stays its answer
  // unless a change signal of the queue is set first; 0 where the spooler
  // cannot promise that (look again at the next tick).
  virtual uint32_t QuietMs(const std::string& /*name*/) { return 0; }
};

Spooler& PlatformSpooler();

}  // namespace pelko
