#include "pelkoctl/win32/host_probe.h"

#include <windows.h>
#include <tlhelp32.h>

#include "agent/platform/win32/spooler/job_listing.h"

namespace pelko::ctl {

// The service runs Pelkomon.exe; looking for the process serves a copy
// started by hand as well.
std::string Win32HostProbe::AgentNotRunning() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return "cannot list the processes";
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32First(snapshot, &entry); more && !found;
       more = Process32Next(snapshot, &entry)) {
    found = lstrcmpiA(entry.szExeFile, "Pelkomon.exe") == 0;
  }
  CloseHandle(snapshot);
  return found ? "" : "no Pelkomon.exe process runs (sc start Pelkomon)";
}

// The service runs as LocalSystem: a folder it can write is one this
// administrator's check can make a file in.
std::string Win32HostProbe::ServiceCannotWrite(const std::string& folder) {
  char name[MAX_PATH];
  if (GetTempFileNameA(folder.c_str(), "pk", 0, name) == 0) {
    // SYSTEM by its SID, which every language of Windows knows.
    return "no file can be made in it (error " + std::to_string(GetLastError()) + "; icacls \"" +
           folder + "\" /grant *S-1-5-18:(OI)(CI)F)";
  }
  DeleteFileA(name);
  return "";
}

// As the agent asks it, so that check warns of the printers the agent
// prices colour on.
std::optional<bool> Win32HostProbe::QueuePrintsColor(const std::string& queue) {
  return ReadColorDevice(queue);
}

}  // namespace pelko::ctl
