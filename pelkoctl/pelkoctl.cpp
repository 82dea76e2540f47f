// pelkoctl: the printers and settings of the agent, and a check of what
// would stop it, for administrators (docs/install.md).
#include <iostream>
#include <string>
#include <vector>

#include "pelkoctl/command_line.h"
#ifdef _WIN32
#include "pelkoctl/win32_host_probe.h"
#else
#include "pelkoctl/posix_host_probe.h"
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  pelko::Env env = pelko::PlatformEnv();
  // Said to whoever runs it, not to the system's log.
  env.troubles = nullptr;
#ifdef _WIN32
  pelko::ctl::Win32HostProbe probe;
#else
  pelko::ctl::PosixHostProbe probe;
#endif
  return pelko::ctl::RunPelkoctl(env, &probe, args, std::cout, std::cerr);
}
