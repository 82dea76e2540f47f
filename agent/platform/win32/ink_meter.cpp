// Windows keeps no document the agent could measure: the spooler holds the
// job in the driver's own language, and the job's requested mode decides.
#include "agent/platform/ink_meter.h"

namespace pelko {

InkMeter* PlatformInkMeter() { return nullptr; }

}  // namespace pelko
