#pragma once

#include "agent/platform/files.h"

namespace pelko {

class FakeFileSystem : public FileSystem {};

}  // namespace pelko
