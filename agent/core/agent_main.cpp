#include "agent/core/agent_main.h"

#include "agent/core/supervisor.h"
#include "agent/util/coding.h"

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

int AgentArguments(const std::vector<std::string>& args, const std::string& program,
                   const std::string& version, std::ostream& out, std::ostream& err) {
  if (args.empty()) return -1;
  const std::string usage =
      "Usage: " + program +
      " [--help | --version]\n"
      "The print accounting agent, started by " +
      (program == "pelkomon" ? "systemd (pelkomon.service)" : "the Pelkomon service") +
      ".\n"
      "Started by hand it runs in the foreground until stopmon ends it. One agent\n"
      "runs at a time: a second says which process holds the lock and exits with 1.\n";
  const std::string& word = args[0];
  if (args.size() == 1 && (AsciiEqualFold(word, "--help") || AsciiEqualFold(word, "/help") ||
                           word == "-h" || word == "/?")) {
    out << usage;
    return 0;
  }
  if (args.size() == 1 && AsciiEqualFold(word, "--version")) {
    out << program << ' ' << version << '\n';
    return 0;
  }
  err << program << ": unknown argument '" << word << "': it takes only --help or --version\n\n"
      << usage;
  return 2;
}

int RunAlone(InstanceLock& lock, const std::string& program, const std::function<int()>& agent,
             std::string* refusal) {
  std::string holder, error;
  if (lock.Take(&holder, &error)) return agent();
  *refusal =
      holder.empty()
          ? program +
                ": not started: the lock that keeps a second agent out cannot be taken: " + error
          : program + ": another " + program + " runs (" + holder +
                "); not started. Stop that one first (stopmon) to run this one";
  return 1;
}

}  // namespace pelko
