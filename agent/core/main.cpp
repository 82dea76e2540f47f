// The agent's entry on both platforms.
#include "agent/config/settings.h"
#include "agent/core/agent_main.h"

#ifdef _WIN32
#include <windows.h>

#include "agent/platform/win32/service.h"
#else
#include <signal.h>
#include <sys/stat.h>
#endif

namespace {

// The application object. It holds nothing of the agent's own; it gives the
// main routine its place in the program's start-up: the entry builds it
// first and runs the agent through it.
class AgentApp {
 public:
  int Run(pelko::RegistryStringValue& globalPath) const {
    return pelko::AgentMain(pelko::PlatformEnv(), globalPath, pelko::PlatformMessageLoop());
  }
};

}  // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Built first, in this order: the application object, then the configured
  // path as it stands when the process starts.
  AgentApp theApp;
  pelko::RegistryStringValue globalPath(pelko::PlatformRegistry(), pelko::settings::kPath);
  // Started by the service manager, the agent runs on its service thread and
  // stops on its stop control; started by hand (its parent is no service
  // manager), it runs here at once.
  const pelko::ServiceBody runAgent = [&theApp, &globalPath] { return theApp.Run(globalPath); };
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
  pthread_sigmask(SIG_BLOCK, &quit, nullptr);
}

[[gnu::section(".preinit_array"), gnu::used]] void (*const kBlockQuitSignals)(int, char**, char**) =
    BlockQuitSignals;

}  // namespace

int main() {
  // Root's files (logs, the global log, the store) must not take their
  // modes from whoever started the agent: nothing it makes is writable by
  // others, nor readable by everyone. Set before the store is first read.
  umask(027);
  // Built in this order: the application object, then the configured path
  // as it stands when the process starts.
  AgentApp theApp;
  pelko::RegistryStringValue globalPath(pelko::PlatformRegistry(), pelko::settings::kPath);
  return theApp.Run(globalPath);
}
#endif
