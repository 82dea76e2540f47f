#pragma once

#include "agent/config/registry_value.h"
#include "agent/platform/env.h"

namespace pelko {

// How long the supervisor is given to stop every worker after the quit.
inline constexpr uint32_t kShutdownGraceMs = 10000;

// Starts the supervisor, waits for the quit request, stops the supervisor
// (which stops every worker) and returns the process's exit status.
int AgentMain(const Env& env, RegistryStringValue& globalPath, MessageLoop& loop);

}  // namespace pelko
