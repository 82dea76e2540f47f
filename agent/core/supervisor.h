// The agent's only controller: follows the registry settings every
// PollInterval and starts and stops the workers to match. A worker whose
// thread has ended while its settings still want it running is started
// again at the next cycle, at most once a cycle, and that is reported.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "agent/config/registry_value.h"
#include "agent/database/database_thread.h"
#include "agent/mail/email_alert_thread.h"
#include "agent/monitor/printer_thread.h"
#include "agent/purge/log_purge_thread.h"
#include "agent/worker/worker_thread.h"

namespace pelko {

inline constexpr int PrinterSlotCount = 50;
inline constexpr uint32_t PollInterval = 10000;

// What the supervisor keeps for as long as it runs; one Cycle() is one
// round of decisions.
class Supervision {
 public:
  Supervision(const Env& env, RegistryStringValue& globalPath);
  // Every worker is asked to stop at once, then each is stopped in turn.
  ~Supervision();
  Supervision(const Supervision&) = delete;
  Supervision& operator=(const Supervision&) = delete;

  void Cycle();

  // What the supervisor holds, for tests and diagnostics.
  const PrinterThread& PrinterSlot(int number) const { return printerSlots[number]; }
  const EmailAlertThread& EmailThread() const { return emailThread; }
  const LogPurgeThread& PurgeThread() const { return purgeThread; }
  bool PrintersStarted() const { return printersStarted; }
  bool EmailStarted() const { return emailStarted; }
  const DatabaseThread& DatabaseWorker() const { return databaseThread; }

 private:
  // Shared by every worker that reads or writes log files.
  LogLocks logLocks;
  // Slot i serves printer i; slot 0 is never used.
  std::array<PrinterThread, PrinterSlotCount> printerSlots;
  LogPurgeThread purgeThread;
  RegistryDwordValue printerCount;
  RegistryDwordValue modificationFlag;
  RegistryDwordValue emailSwitch;
  RegistryDwordValue runSwitch;
  RegistryDwordValue purgeSwitch;
  EmailAlertThread emailThread;
  DatabaseThread databaseThread;
  RegistryStringValue databaseConnection;
  bool printersStarted = false;
  bool emailStarted = false;
  bool purgeStarted = false;
  bool databaseStarted = false;
  Env env;

  void StopPrinters(RegistryDwordValue& count, bool fresh);
  void RestartEndedWorkers();
  void RestartIfEnded(WorkerThread& worker);
  // One switch that keeps a worker running while it and the run switch are 1.
  void FollowSwitch(RegistryDwordValue& workerSwitch, bool& started, WorkerThread& worker);
  void FollowDatabase();
};

class SupervisorThread : public WorkerThread {
 public:
  SupervisorThread(const Env& env, RegistryStringValue& globalPath)
      : WorkerThread(env), globalPath(globalPath) {
    name = "supervisor";
  }
  ~SupervisorThread() { Stop(); }

  void Run() override;

 private:
  RegistryStringValue& globalPath;
};

}  // namespace pelko
