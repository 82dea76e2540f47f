// The global log: every job entry of every daily log file in the logs
// folder and below it, with a grand total, in one file of the day.
#pragma once

#include "agent/config/registry_value.h"
#include "agent/core/waiter.h"
#include "agent/logs/log_locks.h"
#include "agent/platform/env.h"

namespace pelko {

// Lists the folder that globalPath names; writes the file into the folder
// that the registry names now.
void BuildGlobalLog(const Env& env, LogLocks& locks, const Waiter& pause,
                    RegistryStringValue& globalPath);

}  // namespace pelko
