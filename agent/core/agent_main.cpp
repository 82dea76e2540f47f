#include "agent/core/agent_main.h"

#include "agent/core/supervisor.h"

namespace pelko {

int AgentMain(const Env& env, RegistryStringValue& globalPath, MessageLoop& loop) {
  // Said so that an administrator's alert on a stopped agent has its pair.
  SayTrouble(env, EventKind::kAgentStarted, Severity::kInfo, "agent started", "the agent started");
  SupervisorThread supervisor(env, globalPath);
  supervisor.Start();
  loop.Run();
  // The supervisor stops every worker as it unwinds; give it time for that
  // before Stop's short grace would end it by force.
  supervisor.RequestStop();
  supervisor.WaitUntilEnded(kShutdownGraceMs);
  supervisor.Stop();
  SayTrouble(env, EventKind::kAgentStopped, Severity::kInfo, "agent stopped", "the agent stopped");
  return 0;
}

}  // namespace pelko
