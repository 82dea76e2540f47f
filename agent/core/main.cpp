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

// Built before the main routine, in this order: the application object, then
// the configured path as it stands when the process starts.
pelko::AgentApp theApp;
pelko::RegistryStringValue globalPath(pelko::PlatformRegistry(), pelko::settings::kPath);

#ifdef _WIN32
namespace {
int RunAgent() {
  return pelko::AgentMain(pelko::PlatformEnv(), globalPath,
                          pelko::PlatformMessageLoop());
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Started by the service manager, the agent runs on its service thread and
  // stops on its stop control; started by hand (the dispatcher fails with
  // 1063), it runs here as it always has.
  int status = 0;
  if (pelko::RunAsService("Pelkomon", RunAgent, &status)) return status;
  return RunAgent();
}
#else
int main() {
  // Root's files (logs, the global log, the store) must not take their
  // modes from whoever started the agent: nothing it makes is writable by
  // others, nor readable by everyone.
  umask(027);
  // Blocked before any thread exists, so every thread inherits the mask and
  // only the message loop takes the quit signals.
  sigset_t quit;
  sigemptyset(&quit);
  sigaddset(&quit, SIGTERM);
  sigaddset(&quit, SIGINT);
  pthread_sigmask(SIG_BLOCK, &quit, nullptr);
  return pelko::AgentMain(pelko::PlatformEnv(), globalPath,
                          pelko::PlatformMessageLoop());
}
#endif
