#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "agent/config/registry_value.h"
#include "agent/platform/env.h"
#include "agent/platform/instance_lock.h"

namespace pelko {

// How long the supervisor is given to stop every worker after the quit.
inline constexpr uint32_t kShutdownGraceMs = 10000;

// Starts the supervisor, waits for the quit request, stops the supervisor
// (which stops every worker) and returns the process's exit status.
int AgentMain(const Env& env, RegistryStringValue& globalPath, MessageLoop& loop);

// The agent's command line, which asks only for help or the version
// (program: how it is called, "pelkomon" or "Pelkomon.exe"). -1 when the
// agent is to run; else the exit status, the answer written to out, or a
// mistake to err.
int AgentArguments(const std::vector<std::string>& args, const std::string& program,
                   const std::string& version, std::ostream& out, std::ostream& err);

// Runs the agent unless another holds the lock: then *refusal says where
// that one is and what to do, and the status is 1.
int RunAlone(InstanceLock& lock, const std::string& program, const std::function<int()>& agent,
             std::string* refusal);

}  // namespace pelko
