#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "stoptool/posix/process_control.h"

namespace pelko::stoptool {

// The programs it ends lie in the stop tool's own folder.
inline constexpr char kAgentFileName[] = "pelkomon";
inline constexpr char kFrontEndFileName[] = "Tavisk";
inline constexpr int kEndWaitMs = 5000;

// Ends every running front end and agent (processes of root or of the
// caller started from those very files), waits for them, and returns the
// exit status: 0 when every one has ended, 1 when one could not be ended or
// found, 2 for arguments it does not take. Prints nothing when all is well.
int RunPosixStopTool(ProcessControl& system, const std::vector<std::string>& args,
                     std::ostream& out, std::ostream& err);

}  // namespace pelko::stoptool
