#include "agent/core/agent_main.h"

#include "agent/core/supervisor.h"

namespace pelko {

int AgentMain(const Env& env, RegistryStringValue& globalPath, MessageLoop& loop) {
  SupervisorThread supervisor(env, globalPath);
  supervisor.Start();
  loop.Run();
  // The supervisor stops every worker as it unwinds; give it time for that
  // before Stop's short grace would end it by force.
  supervisor.RequestStop();
  supervisor.WaitUntilEnded(kShutdownGraceMs);
  supervisor.Stop();
  return 0;
}

}  // namespace pelko
