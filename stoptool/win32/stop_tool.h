#pragma once

#include <ostream>

#include "stoptool/win32/stop_platform.h"

namespace pelko::stoptool {

inline constexpr char kFrontEndTitle[] = "Tavisk";
inline constexpr char kAgentExeName[] = "Pelkomon.exe";
inline constexpr char kStartUpFailure[] = "Fatal Error: MFC initialization failed";

// Closes the front end's window and terminates the agent; returns the exit
// status: 1 only when start-up fails, 0 otherwise.
int RunStopTool(StopPlatform& platform, std::ostream& err);

}  // namespace pelko::stoptool
