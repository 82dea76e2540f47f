// Listing a Windows queue's jobs: EnumJobsA on a buffer sized to fit a list
// that may grow while it is asked for.
#include "agent/platform/win32/spooler/job_listing.h"

#include <winspool.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "agent/platform/devmode/job_details.h"
#include "agent/util/civil_time.h"
#include "agent/util/unicode.h"

namespace pelko {

static_assert(kWinJobPrinting == JOB_STATUS_PRINTING);
static_assert(kWinJobPrinted == JOB_STATUS_PRINTED);
static_assert(kWinJobDeleting == JOB_STATUS_DELETING);
static_assert(kWinJobDeleted == JOB_STATUS_DELETED);
static_assert(kDmPaperSize == DM_PAPERSIZE && kDmPaperLength == DM_PAPERLENGTH &&
              kDmPaperWidth == DM_PAPERWIDTH && kDmCopies == DM_COPIES && kDmColor == DM_COLOR &&
              kDmDuplex == DM_DUPLEX && kDmFormName == DM_FORMNAME);
static_assert(kDmColorMonochrome == DMCOLOR_MONOCHROME && kDmColorColor == DMCOLOR_COLOR);
static_assert(kDmDupSimplex == DMDUP_SIMPLEX && kDmDupVertical == DMDUP_VERTICAL &&
              kDmDupHorizontal == DMDUP_HORIZONTAL);

namespace {

// Size queries of a list that keeps growing between the query and the read.
constexpr int kEnumAttempts = 4;

std::optional<std::string> Text(const char* text) {
  if (text == nullptr) return std::nullopt;
  return AnsiToUtf8(text);
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

// A text the spooler put in its buffer, read no further than the buffer.
std::string TextIn(const char* text, const uint8_t* begin, const uint8_t* end) {
  const auto* at = reinterpret_cast<const uint8_t*>(text);
  if (text == nullptr || at < begin || at >= end) return std::string();
  return AnsiToUtf8(std::string_view(text, strnlen(text, static_cast<std::size_t>(end - at))));
}

std::string NarrowForm(const BYTE* form) {
  const auto* text = reinterpret_cast<const char*>(form);
  return AnsiToUtf8(std::string_view(text, strnlen(text, CCHFORMNAME)));
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
  if (ansi.empty()) return std::string();
  const int length = static_cast<int>(ansi.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  if (units <= 0) return std::string();
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, reinterpret_cast<wchar_t*>(wide.data()),
                      units);
  return Utf16ToUtf8(wide);
}

SpoolStatus SpoolStatusOf(DWORD error) {
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
    if (error != ERROR_INSUFFICIENT_BUFFER || needed <= size) return SpoolStatusOf(error);
    buffer.reset(new (std::nothrow) uint8_t[needed]);
    if (!buffer) return SpoolStatus::kFailed;
    size = needed;
  }
  return SpoolStatus::kFailed;  // grew at every look
}

JobDetails ReadJobDetails(HANDLE printer, uint32_t id) {
  std::unique_ptr<uint8_t[]> buffer;
  DWORD size = 0;
  for (int attempt = 0; attempt < kEnumAttempts; ++attempt) {
    DWORD needed = 0;
    if (::GetJobA(printer, id, 2, buffer.get(), size, &needed)) {
      if (buffer == nullptr || size < sizeof(JOB_INFO_2A)) return JobDetails{};
      const auto& info = *reinterpret_cast<const JOB_INFO_2A*>(buffer.get());
      const uint8_t* end = buffer.get() + size;
      return DetailsOfJob(JobInfo2Fields{DevModeIn(info.pDevMode, buffer.get(), end, NarrowForm),
                                         TextIn(info.pMachineName, buffer.get(), end), info.Size});
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= size) return JobDetails{};
    buffer.reset(new (std::nothrow) uint8_t[needed]);
    if (!buffer) return JobDetails{};
    size = needed;
  }
  return JobDetails{};
}

std::optional<bool> ReadColorDevice(const std::string& queue) {
  const int answer =
      ::DeviceCapabilitiesA(queue.c_str(), nullptr, DC_COLORDEVICE, nullptr, nullptr);
  if (answer == 1) return true;
  if (answer == 0) return false;
  return std::nullopt;
}

}  // namespace pelko
