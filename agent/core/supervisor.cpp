#include "agent/core/supervisor.h"

#include <string>

namespace pelko {

namespace {

template <std::size_t... I>
std::array<PrinterThread, sizeof...(I)> MakeSlots(const Env& env, LogLocks& logLocks,
                                                  std::index_sequence<I...>) {
  return {((void)I, PrinterThread(env, logLocks))...};
}

uint32_t AsSwitch(bool flag) { return flag ? 1 : 0; }

std::string PrinterNamePath(uint32_t number) {
  return "SOFTWARE\\Pelko\\Printer" + std::to_string(number);
}

}  // namespace

Supervision::Supervision(const Env& env, RegistryStringValue& globalPath)
    : printerSlots(MakeSlots(env, logLocks, std::make_index_sequence<PrinterSlotCount>())),
      purgeThread(env, logLocks),
      printerCount(*env.registry, "SOFTWARE\\Pelko\\nPrinters"),
      modificationFlag(*env.registry, "SOFTWARE\\Pelko\\IsModified"),
      emailSwitch(*env.registry, "Software\\Pelko\\EmailAlert"),
      runSwitch(*env.registry, "Software\\Pelko\\AppIsRunning"),
      purgeSwitch(*env.registry, "Software\\Pelko\\DeleteOldLogs"),
      emailThread(env, logLocks, globalPath),
      env(env) {}

Supervision::~Supervision() {
  for (auto& slot : printerSlots) slot.RequestStop();
  purgeThread.RequestStop();
  emailThread.RequestStop();
  for (auto& slot : printerSlots) slot.Stop();
  purgeThread.Stop();
  emailThread.Stop();
}

void Supervision::StopPrinters(RegistryDwordValue& count, bool fresh) {
  // Printers from 50 on have no slot and are not served.
  for (uint32_t i = 1;
       i < PrinterSlotCount && i <= (fresh ? count.Read() : count.Get()); ++i) {
    printerSlots[i].Stop();
  }
}

void Supervision::Cycle() {
  if (modificationFlag.Read() != 0) {
    StopPrinters(printerCount, /*fresh=*/false);
    modificationFlag.Set(0);
    modificationFlag.Write();
    printersStarted = false;
  }

  if (runSwitch.Read() != AsSwitch(printersStarted)) {
    if (runSwitch.Read() == 1) {
      for (uint32_t i = 1; i < PrinterSlotCount && i <= printerCount.Read(); ++i) {
        RegistryStringValue name(*env.registry, PrinterNamePath(i));
        printerSlots[i].printerName = name.Get();
        printerSlots[i].Start();
      }
      printersStarted = true;
    } else {
      StopPrinters(printerCount, /*fresh=*/true);
      printersStarted = false;
    }
  }

  FollowSwitch(emailSwitch, emailStarted, emailThread);
  FollowSwitch(purgeSwitch, purgeStarted, purgeThread);
}

void Supervision::FollowSwitch(RegistryDwordValue& workerSwitch, bool& started,
                               WorkerThread& worker) {
  const bool act = workerSwitch.Read() != AsSwitch(started) ||
                   runSwitch.Read() != AsSwitch(printersStarted);
  if (!act) return;
  if (workerSwitch.Read() == 1 && runSwitch.Read() == 1) {
    worker.Start();
    started = true;
  } else {
    worker.Stop();
    started = false;
  }
}

uint32_t SupervisorThread::Run(uint32_t) {
  Supervision supervision(env, globalPath);
  for (;;) {
    supervision.Cycle();
    Pause(PollInterval);
  }
}

}  // namespace pelko
