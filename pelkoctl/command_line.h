// pelkoctl's commands over the platform's services, so that tests run them
// against fakes and the program against the machine.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "agent/platform/env.h"

namespace pelko::ctl {

class HostProbe;

// Whether a program's first argument asks for help (--help, /?, ...).
bool IsHelp(const std::string& word);

// args without the program's name. 0 done, 1 refused or failed (said on
// err), 2 bad arguments; check has the statuses of health_check.h.
int RunPelkoctl(const Env& env, HostProbe* probe, const std::vector<std::string>& args,
                std::ostream& out, std::ostream& err);

}  // namespace pelko::ctl
