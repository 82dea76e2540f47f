#pragma once

#include "agent/platform/launcher.h"

namespace pelko {

class FakeLauncher : public Launcher {};

}  // namespace pelko
