// A queue's jobs as EnumJobsA lists them, turned into job records.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/platform/spooler.h"
#include "agent/platform/win32/job_journal.h"

namespace pelko {

// OpenPrinterA takes a writable string. nullptr when it fails.
HANDLE OpenNamed(const std::string& name);

// The queue's jobs through OpenPrinterA / EnumJobsA level 1 / ClosePrinter.
SpoolStatus EnumQueue(const std::string& queue, std::vector<SpoolerJobNote>* records);

// The jobs of a printer already open, appended to records.
SpoolStatus EnumOpen(HANDLE printer, std::vector<SpoolerJobNote>* records);

// A job's Submitted (UTC) in seconds since 1970; 0 where it is no time.
int64_t SubmittedSeconds(const SYSTEMTIME& submitted);

}  // namespace pelko
