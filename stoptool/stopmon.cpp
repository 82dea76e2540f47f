#include <iostream>

#ifdef _WIN32
#include "stoptool/win32/stop_tool.h"

// The command line is not interpreted.
int main() {
  std::unique_ptr<pelko::stoptool::StopPlatform> platform =
      pelko::stoptool::MakeSystemStopPlatform();
  return pelko::stoptool::RunStopTool(*platform, std::cerr);
}
#else
#include <string>
#include <vector>

#include "stoptool/posix/stop_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::unique_ptr<pelko::stoptool::ProcessControl> system =
      pelko::stoptool::MakeSystemProcessControl();
  return pelko::stoptool::RunPosixStopTool(*system, args, std::cout, std::cerr);
}
#endif
