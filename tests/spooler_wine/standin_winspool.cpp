// A winspool.drv for tests under Wine, whose own spooler has no queues:
// every name but those starting with "Missing" is a queue whose job count
// the test sets, and each change notification of a queue is an event that
// a change sets, as the Windows spooler's are. PELKO_STANDIN_NO_NOTIFICATIONS
// set refuses every notification.
#include <windows.h>
#include <winspool.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct Queue {
  DWORD jobs = 0;
  bool silent = false;   // changes notify nobody
  bool refuses = false;  // no notifications at all
  long enumerations = 0;
  std::vector<HANDLE> events;
};

SRWLOCK lock = SRWLOCK_INIT;
std::map<std::string, Queue>* queues;  // never freed: used until the process ends

struct Locked {
  Locked() {
    AcquireSRWLockExclusive(&lock);
    if (queues == nullptr) queues = new std::map<std::string, Queue>;
  }
  ~Locked() { ReleaseSRWLockExclusive(&lock); }
};

struct Printer {
  std::string name;
};

}  // namespace

extern "C" {

BOOL WINAPI OpenPrinterA(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA) {
  if (name == nullptr || std::string(name).rfind("Missing", 0) == 0) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  *printer = new Printer{name};
  return TRUE;
}

BOOL WINAPI EnumJobsA(HANDLE printer, DWORD firstJob, DWORD count, DWORD level, LPBYTE buffer,
                      DWORD size, LPDWORD needed, LPDWORD returned) {
  Locked locked;
  Queue& queue = (*queues)[static_cast<Printer*>(printer)->name];
  ++queue.enumerations;
  *needed = 0;
  *returned = 0;
  if (level != 1) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  const DWORD first = firstJob < queue.jobs ? firstJob : queue.jobs;
  const DWORD listed = count < queue.jobs - first ? count : queue.jobs - first;
  *needed = listed * sizeof(JOB_INFO_1A);
  if (*needed > size || (listed > 0 && buffer == nullptr)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* records = reinterpret_cast<JOB_INFO_1A*>(buffer);
  for (DWORD i = 0; i < listed; ++i) {
    records[i] = JOB_INFO_1A{};
    records[i].JobId = first + i + 1;
  }
  *returned = listed;
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE printer) {
  delete static_cast<Printer*>(printer);
  return TRUE;
}

HANDLE WINAPI FindFirstPrinterChangeNotification(HANDLE printer, DWORD, DWORD, LPVOID) {
  Locked locked;
  Queue& queue = (*queues)[static_cast<Printer*>(printer)->name];
  // For measuring plain polling: bench/ runs the agent with it set.
  if (queue.refuses || GetEnvironmentVariableA("PELKO_STANDIN_NO_NOTIFICATIONS", nullptr, 0) > 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  queue.events.push_back(event);
  return event;
}

BOOL WINAPI FindNextPrinterChangeNotification(HANDLE change, PDWORD what, LPVOID, LPVOID* info) {
  ResetEvent(change);
  if (what != nullptr) *what = PRINTER_CHANGE_ADD_JOB;
  if (info != nullptr) *info = nullptr;
  return TRUE;
}

BOOL WINAPI FindClosePrinterChangeNotification(HANDLE change) {
  Locked locked;
  for (auto& [name, queue] : *queues) {
    for (auto at = queue.events.begin(); at != queue.events.end(); ++at) {
      if (*at == change) {
        queue.events.erase(at);
        break;
      }
    }
  }
  return CloseHandle(change);
}

// The test's controls.
void StandInSetJobs(const char* name, DWORD jobs) {
  Locked locked;
  Queue& queue = (*queues)[name];
  queue.jobs = jobs;
  if (queue.silent) return;
  for (HANDLE event : queue.events) SetEvent(event);
}

void StandInSetSilent(const char* name, BOOL silent) {
  Locked locked;
  (*queues)[name].silent = silent != FALSE;
}

void StandInRefuseNotifications(const char* name) {
  Locked locked;
  (*queues)[name].refuses = true;
}

long StandInEnumerations(const char* name) {
  Locked locked;
  return (*queues)[name].enumerations;
}

}  // extern "C"
