#pragma once

#include "agent/platform/spooler.h"

namespace pelko {

class FakeSpooler : public Spooler {};

}  // namespace pelko
