#include "agent/platform/files.h"

namespace pelko {

FileSystem& PlatformFileSystem() {
  static FileSystem service;
  return service;
}

}  // namespace pelko
