// Listing a Windows queue's jobs: EnumJobsA on a buffer sized to fit a list
// that may grow while it is asked for.
#include "agent/platform/win32/job_listing.h"

#include <winspool.h>

#include <cstdint>
#include <memory>
#include <new>
#include <optional>

#include "agent/util/civil_time.h"

namespace pelko {

static_assert(kWinJobPrinting == JOB_STATUS_PRINTING);
static_assert(kWinJobPrinted == JOB_STATUS_PRINTED);
static_assert(kWinJobDeleting == JOB_STATUS_DELETING);
static_assert(kWinJobDeleted == JOB_STATUS_DELETED);

namespace {

// Size queries of a list that keeps growing between the query and the read.
constexpr int kEnumAttempts = 4;

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

std::optional<std::string> Text(const char* text) {
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

SpoolerJobNote Record(const JOB_INFO_1A& info) {
  SpoolerJobNote record;
  record.id = info.JobId;
  record.user = Text(info.pUserName);
  record.document = Text(info.pDocument);
  record.status = info.Status;
  record.pages = info.PagesPrinted;
  record.submittedAt = SubmittedSeconds(info.Submitted);
  return record;
}

}  // namespace

HANDLE OpenNamed(const std::string& name) {
  std::vector<char> text(name.begin(), name.end());
  text.push_back('\0');
  HANDLE handle = nullptr;
  return ::OpenPrinterA(text.data(), &handle, nullptr) ? handle : nullptr;
}

int64_t SubmittedSeconds(const SYSTEMTIME& submitted) {
  return UtcSeconds(submitted.wYear, submitted.wMonth, submitted.wDay, submitted.wHour,
                    submitted.wMinute, submitted.wSecond);
}

SpoolStatus EnumQueue(const std::string& queue, std::vector<SpoolerJobNote>* records) {
  HANDLE printer = OpenNamed(queue);
  if (printer == nullptr) return FromError(GetLastError());
  const SpoolStatus status = EnumOpen(printer, records);
  ::ClosePrinter(printer);
  return status;
}

SpoolStatus EnumOpen(HANDLE printer, std::vector<SpoolerJobNote>* records) {
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

}  // namespace pelko
