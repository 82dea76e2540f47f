#include "agent/platform/spooler.h"

namespace pelko {

Spooler& PlatformSpooler() {
  static Spooler service;
  return service;
}

}  // namespace pelko
