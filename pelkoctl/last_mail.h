// pelkoctl check's line on the mail program's last sending, read from what
// it records (agent/config/mail_outcome.h).
#pragma once

#include <optional>

#include "agent/platform/registry.h"
#include "pelkoctl/finding.h"

namespace pelko::ctl {

// A fault naming a failed last mail and its fix, an ok line for a sent one;
// none before the mail program first ran.
std::optional<Finding> LastMailFinding(Registry& registry);

}  // namespace pelko::ctl
