// Every platform service as a fake, wired into one Env.
#pragma once

#include "agent/platform/env.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_launcher.h"
#include "tests/fakes/fake_logger.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_spooler.h"
#include "tests/fakes/fake_system_info.h"
#include "tests/fakes/fake_threads.h"

namespace pelko {

struct FakeEnv {
  explicit FakeEnv(bool autoAdvanceClock = true) : clock(autoAdvanceClock) {
    env.registry = &registry;
    env.clock = &clock;
    env.threads = &threads;
    env.files = &files;
    env.spooler = &spooler;
    env.launcher = &launcher;
    env.system = &system;
    env.troubles = &troubles;
  }
  FakeEnv(const FakeEnv&) = delete;
  FakeEnv& operator=(const FakeEnv&) = delete;

  FakeRegistry registry;
  FakeClock clock;
  FakeThreads threads;
  FakeFileSystem files;
  FakeSpooler spooler;
  FakeLauncher launcher;
  FakeSystemInfo system;
  FakeLogger logger;
  TroubleReport troubles{&logger};
  Env env;
};

}  // namespace pelko
