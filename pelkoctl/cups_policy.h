// The part of a CUPS scheduler's configuration (cupsd.conf) that decides
// whether a job's owner is the authenticated user or any name the client
// sends. Plain text in, so that it is tested without a scheduler.
#pragma once

#include <string>
#include <vector>

namespace pelko::ctl {

// The policies of conf whose Create-Job or Print-Job operations need no
// authentication: any user can name the job's owner there. A policy is
// governed by the first <Limit> that names the operation, else by its
// <Limit All>; without either, nothing is required.
std::vector<std::string> PoliciesTrustingClientNames(const std::string& conf);

// The DefaultPolicy directive's policy, "default" without one.
std::string DefaultPolicyName(const std::string& conf);

}  // namespace pelko::ctl
