// The platform services the core reaches the operating system through.
// Each is a small interface with a Win32 and a POSIX implementation and an
// in-memory fake for tests (tests/fakes).
#pragma once

#include "agent/platform/clock.h"
#include "agent/platform/files.h"
#include "agent/platform/ink_meter.h"
#include "agent/platform/launcher.h"
#include "agent/platform/logger.h"
#include "agent/platform/registry.h"
#include "agent/platform/spooler.h"
#include "agent/platform/sql.h"
#include "agent/platform/system_info.h"
#include "agent/platform/threads.h"

namespace pelko {

struct Env {
  Registry* registry = nullptr;
  Clock* clock = nullptr;
  Threads* threads = nullptr;
  FileSystem* files = nullptr;
  Spooler* spooler = nullptr;
  Launcher* launcher = nullptr;
  SystemInfo* system = nullptr;
  TroubleReport* troubles = nullptr;  // may be null: nothing is said
  SqlConnector* sql = nullptr;        // may be null: no database
  InkMeter* inkMeter = nullptr;       // may be null: colour is never measured
};

// Says a trouble the agent absorbed, once per window for each key.
inline void SayTrouble(const Env& env, EventKind kind, Severity severity, const std::string& key,
                       const std::string& line) {
  if (env.troubles != nullptr)
    env.troubles->Say(kind, severity, key, line, env.clock->MonotonicMs());
}
// The kind told by the key's first words (KindOfTroubleKey).
inline void SayTrouble(const Env& env, Severity severity, const std::string& key,
                       const std::string& line) {
  SayTrouble(env, KindOfTroubleKey(key), severity, key, line);
}

// The running machine's services.
Env PlatformEnv();

}  // namespace pelko
