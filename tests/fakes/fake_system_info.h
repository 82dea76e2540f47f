#pragma once

#include "agent/platform/system_info.h"

namespace pelko {

class FakeSystemInfo : public SystemInfo {};

}  // namespace pelko
