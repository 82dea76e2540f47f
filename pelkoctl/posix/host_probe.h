// The machine as pelkoctl check sees it on Linux: the agent's process, the
// rights of its service (root without capabilities, writing only where the
// unit lets it) and the rules of the CUPS scheduler.
#pragma once

#include <string>
#include <vector>

#include "pelkoctl/health_check.h"

namespace pelko::ctl {

class PosixHostProbe : public HostProbe {
 public:
  // The store named by PELKO_REGISTRY: a place in it, or a folder above it,
  // that others could change.
  std::string StoreRefused() override;
  std::string AgentNotRunning() override;
  std::string ServiceCannotWrite(const std::string& folder) override;
  std::string OthersWhoMayWrite(const std::string& folder) override;
  std::vector<std::string> SpoolerRuleWarnings(const std::vector<std::string>& queues) override;
  // The journal's warnings of the service over the last day, where systemd
  // runs.
  std::vector<std::string> RecentAgentLines() override;
  // The queue's color-supported, asked of its scheduler.
  std::optional<bool> QueuePrintsColor(const std::string& queue) override;
  // The agent process's start, from /proc.
  std::optional<int64_t> AgentStartedAt() override;
  // Get-Jobs of every queue's completed jobs, asked of the default server.
  std::optional<std::vector<HistoryJob>> SpoolerHistory() override;
  // unixODBC's Trace in odbcinst.ini.
  std::vector<std::string> DriverManagerLogWarnings() override;

 private:
  // systemctl's answer, asked once a run.
  std::string UnitWritablePaths(bool* known);
  bool unitAsked = false;
  bool unitKnown = false;
  std::string unitPaths;
};

// Why root without capabilities could not make a file in folder, of this
// owner, group and mode (empty when it could), with the command that lets
// it: chown where root is not the owner, chmod where it is.
std::string RootWithoutOverrideCannotWrite(const std::string& folder, uint32_t owner,
                                           uint32_t group, uint32_t mode);

// Whether folder lies in one of the folders of a ReadWritePaths= list
// (systemctl show's form: paths separated by spaces, each perhaps with a
// leading '-' or '+').
bool UnderWritablePaths(const std::string& folder, const std::string& writablePaths);

}  // namespace pelko::ctl
