// The pages a printer's thread could not enter in its daily log yet, kept
// in a file beside the logs, so that they outlive a restart of the agent.
// The file is "<printer>.pending": neither the global log nor the purge
// takes it, and, like a log, it is read only while it is the agent's own.
#pragma once

#include <string>
#include <vector>

#include "agent/logs/record_job.h"
#include "agent/platform/env.h"

namespace pelko {

std::string PendingPagesPath(const Env& env, const std::string& printerName);

// One line a job: its figures, tab-separated, names cleaned as a log
// cleans them.
std::string EncodePendingPages(const std::vector<JobRecord>& jobs);
// The jobs of printerName in text; lines that do not read whole are left out.
std::vector<JobRecord> DecodePendingPages(const std::string& text, const std::string& printerName);

}  // namespace pelko
