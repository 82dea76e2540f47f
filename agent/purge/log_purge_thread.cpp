#include "agent/purge/log_purge_thread.h"

namespace pelko {

uint32_t LogPurgeThread::Run(uint32_t) {
  for (;;) Pause(PurgePeriodMs);
}

}  // namespace pelko
