#include "agent/core/supervisor.h"

#include <exception>
#include <string>

#include "agent/config/setting_table.h"
#include "agent/config/settings.h"

namespace pelko {

namespace {

template <std::size_t... I>
std::array<PrinterThread, sizeof...(I)> MakeSlots(const Env& env, LogLocks& logLocks,
                                                  std::index_sequence<I...>) {
  return {((void)I, PrinterThread(env, logLocks))...};
}

uint32_t AsSwitch(bool flag) { return flag ? 1 : 0; }

}  // namespace

Supervision::Supervision(const Env& env, RegistryStringValue& globalPath)
    : printerSlots(MakeSlots(env, logLocks, std::make_index_sequence<PrinterSlotCount>())),
      purgeThread(env, logLocks),
      printerCount(*env.registry, settings::kPrinterCount),
      modificationFlag(*env.registry, settings::kIsModified),
      emailSwitch(*env.registry, settings::kEmailAlert),
      runSwitch(*env.registry, settings::kAppIsRunning),
      purgeSwitch(*env.registry, settings::kDeleteOldLogs),
      emailThread(env, logLocks, globalPath),
      databaseThread(env, logLocks),
      databaseConnection(*env.registry, settings::kDatabaseConnection),
      env(env) {
  purgeThread.name = "old-log purge thread";
  emailThread.name = "e-mail alert thread";
}

Supervision::~Supervision() {
  for (auto& slot : printerSlots) slot.RequestStop();
  purgeThread.RequestStop();
  emailThread.RequestStop();
  databaseThread.RequestStop();
  for (auto& slot : printerSlots) slot.Stop();
  purgeThread.Stop();
  emailThread.Stop();
  databaseThread.Stop();
}

void Supervision::StopPrinters(RegistryDwordValue& count, bool fresh) {
  // Printers from 50 on have no slot and are not served.
  for (uint32_t i = 1; i < PrinterSlotCount && i <= (fresh ? count.Read() : count.Get()); ++i) {
    printerSlots[i].Stop();
  }
}

void Supervision::RestartIfEnded(WorkerThread& worker) {
  if (!worker.HasEnded()) return;
  worker.Start();
  SayTrouble(env, EventKind::kWorkerRestarted, Severity::kWarning, "restarted " + worker.name,
             "the " + worker.name + " had ended; " +
                 (worker.IsStarted() ? "started it again" : "could not start it again"));
}

// Only workers the flags say are running: a worker stopped on purpose has no
// thread to look at. Looked at once a cycle, after the settings have had
// their say, so that a worker that fails at once is started again every
// PollInterval, never in a tight loop.
void Supervision::RestartEndedWorkers() {
  if (printersStarted) {
    for (int i = 1; i < PrinterSlotCount; ++i) RestartIfEnded(printerSlots[i]);
  }
  if (emailStarted) RestartIfEnded(emailThread);
  if (purgeStarted) RestartIfEnded(purgeThread);
  if (databaseStarted) RestartIfEnded(databaseThread);
}

void Supervision::Cycle() {
  // Said once an hour each (the report's window) while it stays so.
  for (const std::string& line : MistypedSettings(*env.registry)) {
    SayTrouble(env, EventKind::kSettingInvalid, Severity::kWarning, line, line);
  }
  if (env.spooler != nullptr)
    env.spooler->SetNamesUtf8(RegistryDwordValue(*env.registry, settings::kLogUtf8).Get() == 1);
  if (modificationFlag.Read() != 0) {
    StopPrinters(printerCount, /*fresh=*/false);
    modificationFlag.Set(0);
    modificationFlag.Write();
    printersStarted = false;
  }

  if (runSwitch.Read() != AsSwitch(printersStarted)) {
    if (runSwitch.Read() == 1) {
      for (uint32_t i = 1; i < PrinterSlotCount && i <= printerCount.Read(); ++i) {
        PrinterThread& slot = printerSlots[i];
        // A thread left running above a lowered count must be gone before
        // its names change under it.
        slot.Stop();
        slot.SetPrinterName(
            RegistryStringValue(*env.registry, settings::PrinterName(static_cast<int>(i))).Get());
        slot.name = "printer thread " + std::to_string(i) + " (\"" + slot.PrinterName() + "\")";
        slot.Start();
      }
      printersStarted = true;
    } else {
      StopPrinters(printerCount, /*fresh=*/true);
      printersStarted = false;
    }
  }

  FollowSwitch(emailSwitch, emailStarted, emailThread);
  FollowSwitch(purgeSwitch, purgeStarted, purgeThread);
  FollowDatabase();
  RestartEndedWorkers();
}

void Supervision::FollowSwitch(RegistryDwordValue& workerSwitch, bool& started,
                               WorkerThread& worker) {
  const bool act =
      workerSwitch.Read() != AsSwitch(started) || runSwitch.Read() != AsSwitch(printersStarted);
  if (!act) return;
  if (workerSwitch.Read() == 1 && runSwitch.Read() == 1) {
    worker.Start();
    started = true;
  } else {
    worker.Stop();
    started = false;
  }
}

// The database thread runs with the printers while a database is named.
void Supervision::FollowDatabase() {
  const bool wanted = runSwitch.Read() == 1 && !databaseConnection.Read().empty();
  if (wanted == databaseStarted) return;
  if (wanted) {
    databaseThread.Start();
  } else {
    databaseThread.Stop();
  }
  databaseStarted = wanted;
}

void SupervisorThread::Run() {
  Supervision supervision(env, globalPath);
  for (;;) {
    // A cycle that fails (memory ran out) must not end the one thread that
    // keeps every other running.
    try {
      supervision.Cycle();
    } catch (const std::exception& failure) {
      SayTrouble(env, EventKind::kSupervisorFailed, Severity::kError, "failed cycle",
                 std::string("a supervisor cycle failed: ") + failure.what());
    }
    Pause(PollInterval);
  }
}

}  // namespace pelko
