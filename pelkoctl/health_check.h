// pelkoctl check: one line for each thing that would stop accounting or
// mailing, read from the settings, the spooler, the folders and the
// machine, so that "is it working?" has an answer without the system log.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "agent/platform/env.h"

namespace pelko::ctl {

// What only the machine can tell: the service, its user's rights, the
// spooler's rules. One implementation a platform, a fake in tests.
class HostProbe {
 public:
  virtual ~HostProbe() = default;
  // Empty when the agent runs; else why it is not known to run.
  virtual std::string AgentNotRunning() = 0;
  // Empty when the agent's service could make files in folder; else why not.
  virtual std::string ServiceCannotWrite(const std::string& folder) = 0;
  // Who besides the agent's own account may make, rename or delete files
  // in folder ("group pelko", "everyone"); empty where nobody may.
  virtual std::string OthersWhoMayWrite(const std::string& /*folder*/) { return ""; }
  // What in the spooler's rules lets a user bill another, or print uncounted
  // pages, on these queues.
  virtual std::vector<std::string> SpoolerRuleWarnings(const std::vector<std::string>& queues) = 0;
  // The system log's recent lines of the agent, as "TIME text", oldest
  // first; empty where there is no log to read.
  virtual std::vector<std::string> RecentAgentLines() { return {}; }
  // What in the ODBC driver manager's own settings has it log the
  // programs' calls, and what that leaks.
  virtual std::vector<std::string> DriverManagerLogWarnings() { return {}; }
  // Whether the queue's printer prints colour (CUPS: its color-supported);
  // none where the spooler does not say.
  virtual std::optional<bool> QueuePrintsColor(const std::string& /*queue*/) { return std::nullopt; }
};

enum class Verdict { kOk, kNote, kWarning, kFault };

struct Finding {
  Verdict verdict = Verdict::kOk;
  std::string line;
};

// The last line of each kind of trouble (a kind: the text up to its first
// ':'), at most `most`, oldest first.
std::vector<std::string> LastOfEachKind(const std::vector<std::string>& lines, std::size_t most);

// Every finding, in the order an administrator would mend them.
std::vector<Finding> CheckAll(const Env& env, HostProbe* probe);

// Prints the findings; 0 only when every one is kOk.
int RunCheck(const Env& env, HostProbe* probe, std::ostream& out);

}  // namespace pelko::ctl
