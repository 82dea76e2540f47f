#include "agent/platform/win32/service.h"

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstring>
#include <string>

namespace pelko {

namespace {

// One service per process: the dispatcher's callbacks take no context. The
// body is the caller's, alive while the dispatcher runs.
const char* serviceName = nullptr;
const ServiceBody* serviceBody = nullptr;
int bodyStatus = 0;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
DWORD bodyThreadId = 0;
DWORD stopWaitHintMs = 0;

void ReportState(DWORD state, DWORD exitCode, DWORD waitHintMs) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  if (exitCode == 0) {
    status.dwWin32ExitCode = NO_ERROR;
  } else {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exitCode;
  }
  status.dwWaitHint = waitHintMs;
  SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      // The workers get the same grace as on a quit message sent by hand.
      ReportState(SERVICE_STOP_PENDING, NO_ERROR, stopWaitHintMs);
      PostThreadMessageA(bodyThreadId, WM_QUIT, 0, 0);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, char**) {
  statusHandle = RegisterServiceCtrlHandlerExA(serviceName, OnControl, nullptr);
  if (statusHandle == nullptr) return;
  bodyThreadId = GetCurrentThreadId();
  // The thread's queue must exist before a stop can be posted to it.
  MSG message;
  PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  ReportState(SERVICE_RUNNING, NO_ERROR, 0);
  bodyStatus = (*serviceBody)();
  ReportState(SERVICE_STOPPED, static_cast<DWORD>(bodyStatus), 0);
}

// The service manager starts a service as its own child. Asking the
// dispatcher instead costs a started-by-hand program the dispatcher's own
// wait for a manager that will never call (10 s under Wine), so the parent
// is looked at first: a snapshot of the process list takes milliseconds.
bool StartedByServiceManager() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  // Without a list, ask the dispatcher as before: slower, never wrong.
  if (snapshot == INVALID_HANDLE_VALUE) return true;
  const DWORD self = GetCurrentProcessId();
  DWORD parent = 0;
  std::string parentName;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  }
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot, &entry); more && parent != 0;
       more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == parent) parentName = entry.szExeFile;
  }
  CloseHandle(snapshot);
  // The name may carry a path, as the launching command typed it.
  const size_t slash = parentName.find_last_of("\\/");
  if (slash != std::string::npos) parentName.erase(0, slash + 1);
  return _stricmp(parentName.c_str(), "services.exe") == 0;
}

}  // namespace

bool RunAsService(const char* name, uint32_t stopWaitMs, const ServiceBody& body, int* status) {
  if (!StartedByServiceManager()) return false;
  serviceName = name;
  stopWaitHintMs = stopWaitMs;
  serviceBody = &body;
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(name), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    // 1063: no service manager started us; anything else is no service either.
    return false;
  }
  *status = bodyStatus;
  return true;
}

}  // namespace pelko
