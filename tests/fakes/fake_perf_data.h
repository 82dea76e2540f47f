#pragma once

#include "agent/platform/perf_data.h"

namespace pelko {

class FakePerfData : public PerfData {};

}  // namespace pelko
