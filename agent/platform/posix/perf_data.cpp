#include "agent/platform/perf_data.h"

namespace pelko {

PerfData& PlatformPerfData() {
  static PerfData service;
  return service;
}

}  // namespace pelko
