// Mails the global log at a fixed cadence.
#pragma once

#include "agent/config/registry_value.h"
#include "agent/core/worker_thread.h"

namespace pelko {

class EmailAlertThread : public WorkerThread {
 public:
  EmailAlertThread(const Env& env, RegistryStringValue& globalPath)
      : WorkerThread(env), globalPath(globalPath) {}
  ~EmailAlertThread() { Stop(); }

  uint32_t Run(uint32_t argument) override;

 private:
  RegistryStringValue& globalPath;
};

}  // namespace pelko
