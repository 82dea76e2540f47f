// pelkoctl: the printers and settings of the agent, and a check of what
// would stop it, for administrators (docs/install.md).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "agent/util/coding.h"
#include "pelkoctl/command_line.h"
#include "pelkoctl/health_check.h"
#ifdef _WIN32
#include "pelkoctl/win32/host_probe.h"
#else
#include <sys/stat.h>

#include <cstdlib>

#include "pelkoctl/posix/host_probe.h"

namespace {

// A mistyped PELKO_REGISTRY must not start a second store that the agent
// never reads: every command wants the store the package made.
bool StoreIsThere() {
  const char* named = std::getenv("PELKO_REGISTRY");
  const std::string folder = named != nullptr && *named != '\0' ? named : "/var/lib/pelko/registry";
  struct stat st;
  if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  std::cerr << "pelkoctl: the settings store " << folder << " does not exist"
            << (named != nullptr && *named != '\0' ? " (named by PELKO_REGISTRY)"
                                                   : " (installing the package makes it)")
            << '\n';
  return false;
}

}  // namespace
#endif

namespace {

// Every wait of check's is bounded; this is the bound of the whole, should
// something unforeseen not answer: a monitoring system gets its answer.
constexpr int kCheckBoundSeconds = 14;

void GiveUpCheckLater(bool probeForm) {
  std::thread([probeForm] {
    std::this_thread::sleep_for(std::chrono::seconds(kCheckBoundSeconds));
    const std::string said =
        std::string(probeForm ? "PELKO CRITICAL - " : "FAULT  ") + "check gave up after " +
        std::to_string(kCheckBoundSeconds) +
        " s: what it asked after its last line does not answer (run pelkoctl check by hand to "
        "see where it stops)\n";
    std::fputs(said.c_str(), stdout);
    std::fflush(stdout);
    std::_Exit(pelko::ctl::kCheckFault);
  }).detach();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && pelko::AsciiLowered(args[0]) == "--version") {
    std::cout << "pelkoctl " PELKO_VERSION "\n";
    return 0;
  }
  if (!args.empty() && pelko::AsciiLowered(args[0]) == "check") {
    const std::string form = args.size() > 1 ? pelko::AsciiLowered(args[1]) : "";
    GiveUpCheckLater(form == "--probe" || form == "--nagios");
  }
  pelko::Env env = pelko::PlatformEnv();
  // Said to whoever runs it, not to the system's log.
  env.troubles = nullptr;
#ifdef _WIN32
  pelko::ctl::Win32HostProbe probe;
#else
  pelko::ctl::PosixHostProbe probe;
  const bool help = !args.empty() && pelko::ctl::IsHelp(args[0]);
  if (!help && !StoreIsThere()) return 1;
#endif
  return pelko::ctl::RunPelkoctl(env, &probe, args, std::cout, std::cerr);
}
