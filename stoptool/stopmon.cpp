#include <iostream>

#include "stoptool/stop_tool.h"

// The command line is not interpreted.
int main() {
  std::unique_ptr<pelko::stoptool::StopPlatform> platform =
      pelko::stoptool::MakeSystemStopPlatform();
  return pelko::stoptool::RunStopTool(*platform, std::cerr);
}
