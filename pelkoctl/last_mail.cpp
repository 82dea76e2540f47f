#include "pelkoctl/last_mail.h"

#include <string>

#include "agent/config/mail_outcome.h"

namespace pelko::ctl {

std::optional<Finding> LastMailFinding(Registry& registry) {
  const MailOutcome last = ReadMailOutcome(registry);
  if (last.time.empty()) return std::nullopt;
  if (last.result == 0) return Finding{Verdict::kOk, "the last mail was sent, at " + last.time, ""};
  return Finding{Verdict::kFault,
                 "the last mail, at " + last.time + ", was not sent (event " +
                     std::to_string(last.result) + "): " + last.error + "; " +
                     MailFailureFix(last.result),
                 ""};
}

}  // namespace pelko::ctl
