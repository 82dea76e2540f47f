// The machine as pelkoctl check sees it on Windows: the agent's service and
// whether the folders can be written. The spooler has no rules to look at.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pelkoctl/health_check.h"

namespace pelko::ctl {

class Win32HostProbe : public HostProbe {
 public:
  std::string AgentNotRunning() override;
  std::string ServiceCannotWrite(const std::string& folder) override;
  std::vector<std::string> SpoolerRuleWarnings(const std::vector<std::string>&) override {
    return {};
  }
  std::optional<bool> QueuePrintsColor(const std::string& queue) override;
};

}  // namespace pelko::ctl
