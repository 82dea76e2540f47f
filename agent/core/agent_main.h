#pragma once

#include "agent/config/registry_value.h"
#include "agent/platform/env.h"

namespace pelko {

// The application object. It holds nothing of the agent's own; it marks the
// place of the main routine in the program's start-up.
class AgentApp {};

// Starts the supervisor, waits for the quit request, stops the supervisor
// (which stops every worker) and returns the process's exit status.
int AgentMain(const Env& env, RegistryStringValue& globalPath, MessageLoop& loop);

}  // namespace pelko
