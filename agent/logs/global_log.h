// The global log: every job entry of every daily log file in the logs
// folder and below it, with a grand total, in one file of the day.
#pragma once

#include "agent/config/registry_value.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_locks.h"
#include "agent/platform/env.h"
#include "agent/worker/waiter.h"

namespace pelko {

// The most the global log holds, its total and footer aside: it is read
// whole to be mailed. A daily file that would take it past is left out.
inline constexpr uint64_t kMaxGlobalLogBytes = kMaxTextFileBytes - 4096;

// Lists the folder that globalPath names; writes the file into the folder
// that the registry names now, naming stylesheet in its head. Returns the
// path written, or "" when no file was written.
std::string BuildGlobalLog(const Env& env, LogLocks& locks, const Waiter& pause,
                           RegistryStringValue& globalPath,
                           std::string_view stylesheet = kLocalStylesheet);

}  // namespace pelko
