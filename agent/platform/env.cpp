#include "agent/platform/env.h"

namespace pelko {

Env PlatformEnv() {
  Env env;
  env.registry = &PlatformRegistry();
  env.clock = &PlatformClock();
  env.threads = &PlatformThreads();
  env.files = &PlatformFileSystem();
  env.spooler = &PlatformSpooler();
  env.launcher = &PlatformLauncher();
  env.system = &PlatformSystemInfo();
  env.troubles = &PlatformTroubles();
  env.sql = &PlatformSql();
  env.inkMeter = PlatformInkMeter();
  return env;
}

}  // namespace pelko
