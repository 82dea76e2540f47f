#pragma once

#include "agent/config/registry_value.h"
#include "agent/platform/env.h"

namespace pelko {

// Starts the supervisor, waits for the quit request, stops the supervisor
// (which stops every worker) and returns the process's exit status.
int AgentMain(const Env& env, RegistryStringValue& globalPath, MessageLoop& loop);

}  // namespace pelko
