#include "agent/platform/posix/process/child_signals.h"

#include <signal.h>

namespace pelko {

void DefaultSignals() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &standard, nullptr);
}

}  // namespace pelko
