// The agent's entry on both platforms.
#include "agent/core/agent_main.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/stat.h>
#endif

// Built before the main routine, in this order: the application object, then
// the configured path as it stands when the process starts.
pelko::AgentApp theApp;
pelko::RegistryStringValue globalPath(pelko::PlatformRegistry(),
                                      "Software\\Pelko\\Path");

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return pelko::AgentMain(pelko::PlatformEnv(), globalPath,
                          pelko::PlatformMessageLoop());
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
