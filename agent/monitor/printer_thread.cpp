#include "agent/monitor/printer_thread.h"

namespace pelko {

uint32_t PrinterThread::Run(uint32_t) {
  for (;;) Pause(20);
}

}  // namespace pelko
