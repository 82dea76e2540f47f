// A queue's jobs as EnumJobsA lists them, turned into job records.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/platform/devmode/job_details.h"
#include "agent/platform/spooler.h"
#include "agent/platform/win32/spooler/job_journal.h"

namespace pelko {

// Text in the machine's ANSI code page (what the A functions give) as
// UTF-8, which the spooler gives its names in until NamesForLog.
std::string AnsiToUtf8(std::string_view ansi);

// OpenPrinterA takes a writable string. nullptr when it fails.
HANDLE OpenNamed(const std::string& name);

// What a failed spooler call's GetLastError means.
SpoolStatus SpoolStatusOf(DWORD error);

// The jobs of a printer already open (EnumJobsA level 1), appended to
// records.
SpoolStatus EnumOpen(HANDLE printer, std::vector<SpoolerJobNote>* records);

// A DEVMODEA or DEVMODEW's fields, only where it lies whole within
// [begin, end) as its dmSize says, and holds every field read; formName
// reads its dmFormName.
template <typename DevMode, typename FormName>
std::optional<DevModeFields> DevModeIn(const DevMode* mode, const uint8_t* begin,
                                       const uint8_t* end, FormName formName) {
  constexpr std::ptrdiff_t kRead = offsetof(DevMode, dmLogPixels);
  const auto* at = reinterpret_cast<const uint8_t*>(mode);
  if (mode == nullptr || at < begin || at >= end || end - at < kRead || mode->dmSize < kRead ||
      end - at < mode->dmSize) {
    return std::nullopt;
  }
  DevModeFields fields;
  fields.dmFields = mode->dmFields;
  fields.dmPaperSize = mode->dmPaperSize;
  fields.dmPaperLength = mode->dmPaperLength;
  fields.dmPaperWidth = mode->dmPaperWidth;
  fields.dmCopies = mode->dmCopies;
  fields.dmColor = mode->dmColor;
  fields.dmDuplex = mode->dmDuplex;
  fields.dmFormName = formName(mode->dmFormName);
  return fields;
}

// How the job asked to be printed: GetJobA level 2, its DEVMODE, machine
// name and size. Empty where the spooler does not tell (the job gone); a
// DEVMODE that does not lie whole in the answer is not read.
JobDetails ReadJobDetails(HANDLE printer, uint32_t id);

// Whether the queue's printer prints colour (DeviceCapabilitiesA,
// DC_COLORDEVICE, which asks its driver); none where it cannot say.
std::optional<bool> ReadColorDevice(const std::string& queue);

// A job's Submitted (UTC) in seconds since 1970; 0 where it is no time.
int64_t SubmittedSeconds(const SYSTEMTIME& submitted);

}  // namespace pelko
