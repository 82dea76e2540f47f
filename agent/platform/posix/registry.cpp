// The Registry service on POSIX: the machine's file-backed store, whose
// refusals go to the system's log.
#include "agent/platform/registry.h"

#include <cstdint>
#include <string>

#include "agent/platform/clock.h"
#include "agent/platform/logger.h"
#include "agent/platform/posix/registry_store/registry_store.h"

namespace pelko {

Registry& PlatformRegistry() {
  static FileRegistryStore store(
      PlatformStoreFolder(),
      [](const std::string& why) {
        // Not through the Env: every program that reads the store says
        // this, and the Env would start them a spooler.
        PlatformTroubles().Say(
            EventKind::kRegistryStoreRefused, Severity::kError, "store " + why,
            "Registry store refused: " + why + "; settings that others can change are not used",
            PlatformClock().MonotonicMs());
      },
      [](const std::string& name, uint64_t bytes) {
        PlatformTroubles().Say(EventKind::kSettingInvalid, Severity::kWarning, "value " + name,
                               "Registry value " + name + " holds " + std::to_string(bytes) +
                                   " bytes, over " + std::to_string(kMaxValueBytes >> 10) +
                                   " KiB: not used, as if it were not set",
                               PlatformClock().MonotonicMs());
      });
  return store;
}

}  // namespace pelko
