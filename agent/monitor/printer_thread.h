// Watches one print queue.
#pragma once

#include <string>

#include "agent/core/worker_thread.h"

namespace pelko {

class PrinterThread : public WorkerThread {
 public:
  explicit PrinterThread(const Env& env) : WorkerThread(env) {}
  ~PrinterThread() { Stop(); }

  uint32_t Run(uint32_t argument) override;

  std::string printerName;
};

}  // namespace pelko
