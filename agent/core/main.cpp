// The agent's entry on both platforms.
#include <cstdio>
#include <iostream>

#include "agent/config/settings.h"
#include "agent/core/agent_main.h"
#include "agent/platform/instance_lock.h"
#include "agent/platform/logger.h"

#ifdef _WIN32
#include <windows.h>

#include "agent/platform/win32/service.h"
#else
#include <signal.h>
#include <sys/stat.h>
#endif

namespace {

#ifdef _WIN32
// A windowed program has no console: what it answers by hand goes to the
// console of whoever ran it, where standard output leads nowhere. Only
// then, so that the running agent shares no console's Ctrl+C.
void ReachCaller() {
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_UNKNOWN) {
    std::freopen("CONOUT$", "w", stdout);
  }
  if (GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_UNKNOWN) {
    std::freopen("CONOUT$", "w", stderr);
  }
}
#endif

// The application object. It holds nothing of the agent's own; it gives the
// main routine its place in the program's start-up: the entry builds it
// first and runs the agent through it.
class AgentApp {
 public:
  int Run(pelko::RegistryStringValue& globalPath, const char* program) const {
    std::string refusal;
    const int status = pelko::RunAlone(
        pelko::PlatformInstanceLock(), program,
        [&globalPath] {
          return pelko::AgentMain(pelko::PlatformEnv(), globalPath, pelko::PlatformMessageLoop());
        },
        &refusal);
    if (!refusal.empty()) {
      // Where the one who started it looks: the terminal, or the system's log
      // for a service.
#ifdef _WIN32
      ReachCaller();
#endif
      std::cerr << refusal << std::endl;
      pelko::PlatformLogger().Write(pelko::Severity::kError, pelko::EventKind::kOther, refusal);
    }
    return status;
  }
};

}  // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (__argc > 1) ReachCaller();
  const int answered = pelko::AgentArguments(std::vector<std::string>(__argv + 1, __argv + __argc),
                                             "Pelkomon.exe", PELKO_VERSION, std::cout, std::cerr);
  if (answered >= 0) return answered;
  // Built first, in this order: the application object, then the configured
  // path as it stands when the process starts.
  AgentApp theApp;
  pelko::RegistryStringValue globalPath(pelko::PlatformRegistry(), pelko::settings::kPath);
  // Started by the service manager, the agent runs on its service thread and
  // stops on its stop control; started by hand (its parent is no service
  // manager), it runs here at once.
  const pelko::ServiceBody runAgent = [&theApp, &globalPath] {
    return theApp.Run(globalPath, "Pelkomon.exe");
  };
  // The manager is told to wait for the workers' grace and the unwinding after it.
  constexpr uint32_t kStopWaitMs = pelko::kShutdownGraceMs + 5000;
  int status = 0;
  if (pelko::RunAsService("Pelkomon", kStopWaitMs, runAgent, &status)) return status;
  return runAgent();
}
#else
namespace {

// Blocked before any thread exists, so every thread inherits the mask and
// only the message loop takes the quit signals. Run from .preinit_array,
// ahead of every initialiser, libraries' included: a stop sent the moment
// the program runs then waits for the loop and ends the agent cleanly
// instead of killing it by the default action.
void BlockQuitSignals(int, char**, char**) {
  sigset_t quit;
  sigemptyset(&quit);
  sigaddset(&quit, SIGTERM);
  sigaddset(&quit, SIGINT);
  sigaddset(&quit, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &quit, nullptr);
}

[[gnu::section(".preinit_array"),
  gnu::used]] void (*const kBlockQuitSignals)(int, char**, char**) = BlockQuitSignals;

}  // namespace

int main(int argc, char** argv) {
  const int answered = pelko::AgentArguments(std::vector<std::string>(argv + 1, argv + argc),
                                             "pelkomon", PELKO_VERSION, std::cout, std::cerr);
  if (answered >= 0) return answered;
  // Root's files (logs, the global log, the store) must not take their
  // modes from whoever started the agent: nothing it makes is writable by
  // others, nor readable by everyone. Set before the store is first read.
  umask(027);
  // Built in this order: the application object, then the configured path
  // as it stands when the process starts.
  AgentApp theApp;
  pelko::RegistryStringValue globalPath(pelko::PlatformRegistry(), pelko::settings::kPath);
  return theApp.Run(globalPath, "pelkomon");
}
#endif
