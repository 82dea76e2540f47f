// pelkoctl check: one line for each thing that would stop accounting or
// mailing, read from the settings, the spooler, the folders, the central
// database and the machine, so that "is it working?" has an answer without
// the system log. Lines are said as they are known, each fault with the
// command that mends it; a monitoring system reads the exit status and,
// in the probe form, a summary line first.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "agent/platform/env.h"
#include "pelkoctl/finding.h"

namespace pelko::ctl {

// One ended job of the spooler's history, of any queue.
struct HistoryJob {
  std::string queue;
  uint32_t id = 0;
  std::string user;
  std::string title;
  bool cancelled = false;  // cancelled or aborted rather than printed
  bool raw = false;        // sent to the printer as is, its pages uncounted
  std::optional<uint32_t> pages;
  int64_t endedAt = 0;  // seconds since 1970 (UTC); 0 where not told
};

// What only the machine can tell: the service, its user's rights, the
// spooler's rules. One implementation a platform, a fake in tests. Every
// answer comes within a few seconds, whatever does not answer.
class HostProbe {
 public:
  virtual ~HostProbe() = default;
  // Empty when the settings store can be used; else why not, with the
  // command that mends it (a store others can change is refused whole).
  virtual std::string StoreRefused() { return ""; }
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
  virtual std::optional<bool> QueuePrintsColor(const std::string& /*queue*/) {
    return std::nullopt;
  }
  // When the agent's running process started, in seconds since 1970 (UTC);
  // none where it does not run or the system does not say.
  virtual std::optional<int64_t> AgentStartedAt() { return std::nullopt; }
  // The ended jobs the spooler keeps of every queue, configured or not;
  // none where it keeps no history or does not answer.
  virtual std::optional<std::vector<HistoryJob>> SpoolerHistory() { return std::nullopt; }
};

// The commands a fix names, as the platform has them. Windows's are told
// by its paths' separator.
struct PlatformHints {
  std::string listQueues;     // where a queue name is wrong
  std::string startSpooler;   // where the spooler does not answer
  std::string restartAgent;   // where a setting is read at the start
  std::string raiseModified;  // where printers were written by hand
  std::string makeFolder;     // followed by the folder
  std::string makeLogsFolder;
  std::string placeMailProgram;  // followed by the program's path
  std::string deleteValue;       // followed by the value's name
};
const PlatformHints& HintsFor(const Env& env);

// The last line of each kind of trouble (a kind: the text up to its first
// ':'), at most `most`, oldest first.
std::vector<std::string> LastOfEachKind(const std::vector<std::string>& lines, std::size_t most);

// Every finding, each handed to sink as soon as it is known, in the order
// an administrator would mend them: the root cause first, and nothing that
// follows from a fault said already.
void CheckAll(const Env& env, HostProbe* probe, const std::function<void(const Finding&)>& sink);
std::vector<Finding> CheckAll(const Env& env, HostProbe* probe);

// check's line on the central database alone (none where no
// DatabaseConnection is set): whether it answers and holds every daily log
// under folder as it is now.
std::optional<Finding> DatabaseFinding(const Env& env, const std::string& folder);

// Exit statuses in the manner of monitoring plugins.
inline constexpr int kCheckOk = 0;       // all is well, or only accepted warnings
inline constexpr int kCheckWarning = 1;  // warnings, no fault
inline constexpr int kCheckFault = 2;    // at least one fault
inline constexpr int kCheckUnknown = 3;  // the check could not run (bad arguments)

enum class CheckForm {
  kPeople,  // each line as it is known, the summary last
  kProbe,   // "PELKO OK - ..." first, then the lines: a monitoring plugin's output
};

int RunCheck(const Env& env, HostProbe* probe, std::ostream& out,
             CheckForm form = CheckForm::kPeople);

}  // namespace pelko::ctl
