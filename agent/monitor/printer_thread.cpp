#include "agent/monitor/printer_thread.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "agent/config/registry_value.h"
#include "agent/logs/record_job.h"

namespace pelko {

namespace {

// Truncated toward zero, then taken modulo 2^32 like a conversion of the
// integer; what is no number at all reads as 0.
uint32_t ToPageTotal(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 9.0e18) return 0;
  return static_cast<uint32_t>(static_cast<int64_t>(value));
}

std::string Text(const char* text) { return text != nullptr ? text : std::string(); }

}  // namespace

void PrinterThread::BuildCounterPath() {
  std::string machine;
  std::string instance;
  const std::size_t last = printerName.rfind('\\');
  if (last != std::string::npos) {
    const std::string before = printerName.substr(0, last);
    for (std::size_t i = 0; i < before.size(); ++i) {
      if (before[i] == '\\' && i + 1 < before.size() && before[i + 1] == '\\') {
        ++i;
        continue;
      }
      machine += before[i];
    }
    instance = printerName.substr(last + 1);
  } else {
    char name[16] = {};
    uint32_t size = sizeof name;
    if (env.system->GetComputerNameA(name, &size) == 0) {
      machine.assign(name, strnlen(name, sizeof name));
    }
    instance = printerName;
  }
  counterPath = "\\\\" + machine + "\\Print Queue(" + instance + ")\\Total Pages Printed";
}

uint32_t PrinterThread::Run(uint32_t) {
  BuildCounterPath();
  // A counter of an earlier run may be for another printer.
  counters = PerfCounterSet(env.perf);
  if (ReadPageTotal(0)) lastPageTotal = currentPageTotal;

  Spooler& spooler = *env.spooler;
  struct Registration {
    Spooler& spooler;
    const std::string& name;
    Signal* changed;
    ~Registration() { spooler.RemoveChangeSignal(name, changed); }
  } registration{spooler, printerName, queueChanged.get()};
  spooler.AddChangeSignal(printerName, queueChanged.get());

  for (;;) {
    // Reset before the look: a change during it makes the sleep end at once.
    queueChanged->Reset();
    PollQueue();
    Pause(QueuePollMs);
    SleepWhileQuiet();
  }
}

void PrinterThread::SleepWhileQuiet() {
  const uint32_t quietMs = env.spooler->QuietMs(printerName);
  if (quietMs == 0) return;
  // The stop signal was last seen clear after the reset (by the pause just
  // made), and a stop sets queueChanged too, so no stop waits out the sleep.
  queueChanged->Wait(quietMs);
  Pause(0);
}

bool PrinterThread::ReadPageTotal(uint32_t waitMs) {
  // Closed also when a stop cuts the wait short.
  struct Closer {
    PerfCounterSet& set;
    ~Closer() { set.Close(); }
  } closer{counters};

  counters.Open();
  if (counters.CounterCount() == 0) counters.AddCounter(counterPath);
  if (waitMs != 0) Pause(waitMs);
  PerfCounter* counter = counters.CounterAt(0);
  if (counter == nullptr) return false;
  counters.Collect();
  counter->Fetch();
  currentPageTotal = ToPageTotal(counter->Value(ValueKind::Last));
  return true;
}

void PrinterThread::PollQueue() {
  Spooler& spooler = *env.spooler;
  PrinterHandle printer = nullptr;
  if (spooler.OpenPrinterA(printerName, &printer) != 0) return;

  uint32_t needed = 0;
  uint32_t returned = 0;
  const uint32_t sized =
      spooler.EnumJobsA(printer, 0, 0xFFFFFFFF, 1, nullptr, 0, &needed, &returned);
  if (sized != 0 && sized != kErrorInsufficientBuffer) {
    spooler.ClosePrinter(printer);
    return;
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[needed]);
  if (!buffer) {
    spooler.ClosePrinter(printer);
    return;
  }
  const uint32_t size = needed;
  if (spooler.EnumJobsA(printer, 0, 0xFFFFFFFF, 1, buffer.get(), size, &needed, &returned) !=
      0) {
    spooler.ClosePrinter(printer);
    return;
  }
  // The printer is not held during the passes.
  spooler.ClosePrinter(printer);

  const uint32_t records = std::min<uint32_t>(returned, size / sizeof(JobInfo1));
  for (uint32_t i = 0; i < records; ++i) {
    JobInfo1 job;
    std::memcpy(&job, buffer.get() + i * sizeof(JobInfo1), sizeof job);
    AccountJob(job);
  }
}

void PrinterThread::AccountJob(JobInfo1 job) {
  const LocalTime stamp = env.clock->Now();
  Registry& registry = *env.registry;

  RegistryDwordValue running(registry, "Software\\Pelko\\AppIsRunning");
  if (running.Get() != 1) return;

  int index = -1;
  RegistryDwordValue printerCount(registry, "SOFTWARE\\Pelko\\nPrinters");
  const uint32_t count = std::min(printerCount.Get(), MaxSearchedPrinters);
  for (uint32_t i = 1; i <= count; ++i) {
    RegistryStringValue name(registry, "SOFTWARE\\Pelko\\Printer" + std::to_string(i));
    if (name.Get() == printerName) index = static_cast<int>(i);
  }
  RegistryDwordValue costPerPage(
      registry, "SOFTWARE\\Pelko\\Printer" + std::to_string(index) + "Cost");

  ReadPageTotal(CounterWaitMs);

  int32_t pages = 0;
  int32_t cost = 0;
  if (currentPageTotal > lastPageTotal) {
    const uint32_t rise = currentPageTotal - lastPageTotal;
    lastPageTotal = currentPageTotal;
    pages = static_cast<int32_t>(rise);
    cost = static_cast<int32_t>(rise * costPerPage.Get());
  }
  Record(static_cast<int32_t>(job.JobId), Text(job.pUserName), Text(job.pDocument), pages,
         cost, stamp);
}

void PrinterThread::Record(int32_t jobId, const std::string& userName,
                           const std::string& documentName, int32_t pages, int32_t cost,
                           const LocalTime& stamp) {
  RecordJob(env, logLocks, Waiter(Pauser()), printerName, jobId, userName, documentName, pages,
            cost, stamp);
}

}  // namespace pelko
