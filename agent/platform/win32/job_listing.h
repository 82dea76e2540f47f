// A queue's jobs as EnumJobsA lists them, turned into job records.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "agent/platform/spooler.h"
#include "agent/platform/win32/job_journal.h"

namespace pelko {

// OpenPrinterA takes a writable string. nullptr when it fails.
HANDLE OpenNamed(const std::string& name);

// What a failed spooler call's GetLastError means.
SpoolStatus SpoolStatusOf(DWORD error);

// The jobs of a printer already open (EnumJobsA level 1), appended to
// records.
SpoolStatus EnumOpen(HANDLE printer, std::vector<SpoolerJobNote>* records);

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
