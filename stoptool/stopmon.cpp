#include <iostream>
#include <string>

// Answered before anything is looked for, so that asking stops nothing.
static bool IsVersion(int argc, char** argv) {
  return argc == 2 && std::string(argv[1]) == "--version";
}

#ifdef _WIN32
#include "agent/util/coding.h"

#include "stoptool/win32/stop_tool.h"

namespace {

constexpr char kUsage[] =
    "Usage: stopmon.exe [/? | --version]\n"
    "Closes the front end's window (Tavisk) and ends the running agent\n"
    "(Pelkomon.exe). It takes no arguments.\n";

bool IsHelp(std::string word) {
  word = pelko::AsciiLowered(word);
  return word == "/?" || word == "-?" || word == "/h" || word == "-h" || word == "/help" ||
         word == "--help";
}

}  // namespace

int main(int argc, char** argv) {
  if (IsVersion(argc, argv)) {
    std::cout << "stopmon " PELKO_VERSION "\n";
    return 0;
  }
  if (argc == 2 && IsHelp(argv[1])) {
    std::cout << kUsage;
    return 0;
  }
  if (argc > 1) {
    std::cerr << "stopmon: unexpected argument '" << argv[1] << "': nothing was stopped\n\n"
              << kUsage;
    return 2;
  }
  std::unique_ptr<pelko::stoptool::StopPlatform> platform =
      pelko::stoptool::MakeSystemStopPlatform();
  return pelko::stoptool::RunStopTool(*platform, std::cerr);
}
#else
#include <vector>

#include "stoptool/posix/stop_tool.h"

int main(int argc, char** argv) {
  if (IsVersion(argc, argv)) {
    std::cout << "stopmon " PELKO_VERSION "\n";
    return 0;
  }
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::unique_ptr<pelko::stoptool::ProcessControl> system =
      pelko::stoptool::MakeSystemProcessControl();
  return pelko::stoptool::RunPosixStopTool(*system, args, std::cout, std::cerr);
}
#endif
