// The job queries the CUPS spooler makes of a queue (Get-Jobs), and the
// jobs read from their answers.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/platform/posix/cups/cups_client.h"
#include "agent/platform/posix/cups/cups_job_book.h"

namespace pelko {

// A Get-Jobs answer: its jobs, or why there are none.
struct CupsJobList {
  CupsFailure failure = CupsFailure::kNone;
  ipp_status_t status = IPP_STATUS_OK;
  std::string localAddress;  // as CupsResult's
  std::vector<CupsJob> jobs;
};

// Get-Jobs for the queue's jobs in `which` state ("not-completed",
// "completed"), from the job id given; with idsOnly, their ids alone.
CupsJobList GetJobs(CupsClient& client, const CupsServer& server, const std::string& printerUri,
                    const char* which, uint32_t firstId, bool idsOnly);

}  // namespace pelko
