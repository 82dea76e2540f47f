// For the reliability tests that record into real log files: the platform's
// files and clock, with an in-memory registry whose Path names the folder.
#pragma once

#include <string>

#include "agent/logs/log_locks.h"
#include "agent/platform/env.h"
#include "agent/worker/waiter.h"
#include "tests/fakes/fake_registry.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pelko {

struct RealLogEnv {
  explicit RealLogEnv(const std::string& folder) {
    registry.PutString("Software\\Pelko\\Path", folder);
    env.registry = &registry;
    env.clock = &PlatformClock();
    env.files = &PlatformFileSystem();
  }
  RealLogEnv(const RealLogEnv&) = delete;
  RealLogEnv& operator=(const RealLogEnv&) = delete;

  FakeRegistry registry;
  Env env;
  LogLocks locks;
  Waiter pause = [](uint32_t ms) { PlatformClock().Sleep(ms); };
};

// A new temporary folder with an empty Logs folder in it.
inline std::string MakeLogsFolder(const std::string& prefix) {
#ifdef _WIN32
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + prefix + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  CreateDirectoryA((folder + "\\Logs").c_str(), nullptr);
#else
  std::string pattern = "/tmp/" + prefix + "XXXXXX";
  std::string folder = mkdtemp(pattern.data());
  mkdir((folder + "/Logs").c_str(), 0777);
#endif
  return folder;
}

}  // namespace pelko
