// Watches one print queue: polls the spooler's job list every 20 ms and,
// for every job found, attributes to it the rise of the queue's "Total Pages
// Printed" counter since the last accounted reading, prices it and records
// it in the printer's daily log. Where the spooler tells of every change of
// an idle queue, the thread sleeps until one comes rather than wake for
// looks whose answer is known: that is most of what an idle queue costs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "agent/core/worker_thread.h"
#include "agent/logs/log_locks.h"
#include "agent/platform/pdh/perf_counter.h"
#include "agent/platform/spooler.h"

namespace pelko {

inline constexpr uint32_t QueuePollMs = 20;
inline constexpr uint32_t CounterWaitMs = 2000;
// Configured printers searched for this thread's name. The supervisor serves
// 49; a nPrinters beyond this is taken as this, so that a broken setting
// cannot keep a pass (and a stop waiting for it) busy for hours.
inline constexpr uint32_t MaxSearchedPrinters = 1000;

class PrinterThread : public WorkerThread {
 public:
  PrinterThread(const Env& env, LogLocks& logLocks)
      : WorkerThread(env),
        counters(env.perf),
        queueChanged(env.clock->NewSignal()),
        logLocks(logLocks) {}
  ~PrinterThread() { Stop(); }

  uint32_t Run(uint32_t argument) override;
  void PollQueue();
  void AccountJob(JobInfo1 job);
  // True when the set held a counter to read; its value is then in
  // currentPageTotal.
  bool ReadPageTotal(uint32_t waitMs);

  std::string printerName;
  PerfCounterSet counters;
  uint32_t lastPageTotal = 0;
  uint32_t currentPageTotal = 0;
  std::string counterPath;

 protected:
  // Where a pass hands its job to the log.
  virtual void Record(int32_t jobId, const std::string& userName,
                      const std::string& documentName, int32_t pages, int32_t cost,
                      const LocalTime& stamp);
  void OnStopRequested() override { queueChanged->Set(); }

 private:
  void BuildCounterPath();
  // After a look: sleeps for as long as the spooler vouches for its answer,
  // or until the queue changes or the thread is asked to stop.
  void SleepWhileQuiet();

  // Set by the spooler when the queue may have changed, and on a stop.
  std::unique_ptr<Signal> queueChanged;

  LogLocks& logLocks;
};

}  // namespace pelko
