#include "agent/mail/email_alert_thread.h"

namespace pelko {

uint32_t EmailAlertThread::Run(uint32_t) {
  for (;;) Pause(60000);
}

}  // namespace pelko
