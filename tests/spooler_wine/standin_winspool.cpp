// A winspool.drv for tests under Wine, whose own spooler has no queues:
// every name but those starting with "Missing" is a queue. The test drives
// its jobs (add, print pages, end) through the StandIn* exports, or a
// scenario file drives them over time (PELKO_STANDIN_SCENARIO, below). Each
// change notification of a queue is an event that a change sets, as the
// Windows spooler's are, and carries the job fields it was asked for
// (UTF-16 texts and DEVMODE, as the spooler gives them).
// PELKO_STANDIN_NO_NOTIFICATIONS set refuses every notification. PELKO_STANDIN_STEPS drives the
// queues step by step instead of by the clock (standin_steps.h). Each job's Submitted is the
// spooler's clock when it was added: the real one, but moved on by every restart (StandInRestart),
// which also forgets every job and numbers the next from 1 again. GetJobA (level 2) tells how each
// job asked to be printed, as StandInAddDetailedJob set it; DeviceCapabilitiesA whether the queue
// prints colour (StandInSetColorDevice; yes by default).
//
// Scenario file, one job a line, times from the first OpenPrinterA:
//   AT_MS QUEUE USER DOCUMENT PAGES [flash]
// and optionally "page_ms N" (default 300). Each queue prints its oldest
// job a page every page_ms while the others wait; a flash job is added,
// printed and gone at once, between any two looks. Every ended job is
// appended to PELKO_STANDIN_RESULT as "QUEUE ID USER DOCUMENT PAGES
// END_UNIX_MS", and "done" follows the last.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "standin_steps.h"

namespace {

struct Job {
  DWORD id = 0;
  std::string user;
  std::string document;
  DWORD status = 0;
  DWORD pages = 0;    // PagesPrinted: what the driver reports
  DWORD printed = 0;  // what it printed
  DWORD total = 0;    // to print (scenario)
  SYSTEMTIME submitted{};
  bool hasMode = true;  // a DEVMODE in its JOB_INFO_2
  DEVMODEA mode{};
  std::string machine;
  DWORD size = 0;
};

struct Pending {
  DWORD id;
  WORD field;
  DWORD value;
  std::string text;
  SYSTEMTIME time{};
  DEVMODEW mode{};
};

struct Listener {
  HANDLE event;
  bool fields = false;
  bool discard = false;
  std::vector<Pending> pending;
};

struct Queue {
  std::deque<Job> jobs;
  DWORD pageTotal = 0;      // the "Total Pages Printed" counter
  bool countsPages = true;  // the driver reports PagesPrinted per job
  bool silent = false;      // changes notify nobody
  bool refuses = false;     // no notifications at all
  bool growOnce = false;    // a job arrives between the size query and the read
  int colorDevice = 1;      // DeviceCapabilitiesA's DC_COLORDEVICE
  long enumerations = 0;
  long getJobs = 0;
  long capabilityQueries = 0;
  std::vector<Listener> listeners;
};

// Bounded like the spooler's buffer of changes: more are discarded.
constexpr std::size_t kMaxPending = 256;

SRWLOCK lock = SRWLOCK_INIT;
std::map<std::string, Queue>* queues;  // never freed: used until the process ends
DWORD nextId = 1;
ULONGLONG clockAheadMs = 0;  // the spooler's clock ahead of the real one

// Under the lock.
SYSTEMTIME SpoolerNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
  ticks.QuadPart += clockAheadMs * 10000;
  now = FILETIME{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME time{};
  FileTimeToSystemTime(&now, &time);
  return time;
}

// Notifications carry the UTF-16 DEVMODE.
DEVMODEW Wide(const DEVMODEA& mode) {
  DEVMODEW wide{};
  wide.dmSize = mode.dmSize == sizeof mode ? sizeof wide : mode.dmSize;
  wide.dmFields = mode.dmFields;
  wide.dmPaperSize = mode.dmPaperSize;
  wide.dmPaperLength = mode.dmPaperLength;
  wide.dmPaperWidth = mode.dmPaperWidth;
  wide.dmCopies = mode.dmCopies;
  wide.dmColor = mode.dmColor;
  wide.dmDuplex = mode.dmDuplex;
  for (int c = 0; c < CCHFORMNAME; ++c) wide.dmFormName[c] = mode.dmFormName[c];
  return wide;
}

// Every field of the job, as a new job's notification or a refresh tells it.
void AllFields(const Job& job, std::vector<Pending>* items) {
  items->push_back({job.id, JOB_NOTIFY_FIELD_USER_NAME, 0, job.user});
  items->push_back({job.id, JOB_NOTIFY_FIELD_DOCUMENT, 0, job.document});
  items->push_back({job.id, JOB_NOTIFY_FIELD_SUBMITTED, 0, {}, job.submitted});
  items->push_back({job.id, JOB_NOTIFY_FIELD_MACHINE_NAME, 0, job.machine});
  if (job.hasMode) items->push_back({job.id, JOB_NOTIFY_FIELD_DEVMODE, 0, {}, {}, Wide(job.mode)});
}

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

// Under the lock.
void Tell(Queue& queue, const Job& job, bool everything) {
  if (queue.silent) return;
  for (Listener& listener : queue.listeners) {
    if (listener.fields) {
      if (everything) AllFields(job, &listener.pending);
      listener.pending.push_back({job.id, JOB_NOTIFY_FIELD_STATUS, job.status, {}});
      listener.pending.push_back({job.id, JOB_NOTIFY_FIELD_PAGES_PRINTED, job.pages, {}});
      if (listener.pending.size() > kMaxPending) listener.discard = true;
    }
    SetEvent(listener.event);
  }
}

Job* Find(Queue& queue, DWORD id) {
  for (Job& job : queue.jobs) {
    if (job.id == id) return &job;
  }
  return nullptr;
}

// "copies=3 color=1 duplex=2 paper=9 form=A4 width=2100 length=2970
// machine=\\PC-12 size=12345", each DEVMODE value with its dmFields bit;
// "devmode=none" gives the job none, "dmsize=N" one whose dmSize says N.
void SetDetails(Job& job, const char* details) {
  job.mode.dmSize = sizeof(DEVMODEA);
  std::istringstream words(details != nullptr ? details : "");
  for (std::string word; words >> word;) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    const auto number = [&] { return static_cast<short>(std::stoi(value)); };
    DEVMODEA& mode = job.mode;
    if (key == "copies") {
      mode.dmCopies = number();
      mode.dmFields |= DM_COPIES;
    } else if (key == "color") {
      mode.dmColor = number();
      mode.dmFields |= DM_COLOR;
    } else if (key == "duplex") {
      mode.dmDuplex = number();
      mode.dmFields |= DM_DUPLEX;
    } else if (key == "paper") {
      mode.dmPaperSize = number();
      mode.dmFields |= DM_PAPERSIZE;
    } else if (key == "width") {
      mode.dmPaperWidth = number();
      mode.dmFields |= DM_PAPERWIDTH;
    } else if (key == "length") {
      mode.dmPaperLength = number();
      mode.dmFields |= DM_PAPERLENGTH;
    } else if (key == "form") {
      std::memset(mode.dmFormName, 0, sizeof mode.dmFormName);
      std::memcpy(mode.dmFormName, value.data(),
                  value.size() < CCHFORMNAME ? value.size() : CCHFORMNAME - 1);
      mode.dmFields |= DM_FORMNAME;
    } else if (key == "machine") {
      job.machine = value;
    } else if (key == "size") {
      job.size = static_cast<DWORD>(std::stoul(value));
    } else if (key == "devmode") {
      job.hasMode = value != "none";
    } else if (key == "dmsize") {
      mode.dmSize = static_cast<WORD>(std::stoul(value));
    }
  }
}

DWORD Add(Queue& queue, const char* user, const char* document, DWORD total,
          const char* details = nullptr) {
  Job job;
  job.id = nextId++;
  job.user = user != nullptr ? user : "";
  job.document = document != nullptr ? document : "";
  job.total = total;
  job.submitted = SpoolerNow();
  SetDetails(job, details);
  queue.jobs.push_back(job);
  Tell(queue, job, true);
  return job.id;
}

void Print(Queue& queue, Job& job, DWORD pages) {
  job.status |= JOB_STATUS_PRINTING;
  job.printed += pages;
  if (queue.countsPages) job.pages += pages;
  queue.pageTotal += pages;
  Tell(queue, job, false);
}

void End(Queue& queue, DWORD id) {
  for (auto at = queue.jobs.begin(); at != queue.jobs.end(); ++at) {
    if (at->id != id) continue;
    Job job = *at;
    queue.jobs.erase(at);
    job.status = JOB_STATUS_PRINTED | JOB_STATUS_DELETED;
    Tell(queue, job, false);
    return;
  }
}

bool IsText(WORD field) {
  return field == JOB_NOTIFY_FIELD_USER_NAME || field == JOB_NOTIFY_FIELD_DOCUMENT ||
         field == JOB_NOTIFY_FIELD_MACHINE_NAME;
}

// The bytes an item's data takes in the block, rounded up to keep the next
// one aligned.
std::size_t DataSize(const Pending& item) {
  const std::size_t size = item.field == JOB_NOTIFY_FIELD_SUBMITTED ? sizeof(SYSTEMTIME)
                           : item.field == JOB_NOTIFY_FIELD_DEVMODE
                               ? sizeof(DEVMODEW)
                               : (item.text.size() + 1) * sizeof(wchar_t);
  return (size + 7) / 8 * 8;
}

// The notification block: header, records, then their texts, in one
// allocation that FreePrinterNotifyInfo gives back.
PRINTER_NOTIFY_INFO* Block(const std::vector<Pending>& items, bool discarded) {
  std::size_t size = sizeof(PRINTER_NOTIFY_INFO) + items.size() * sizeof(PRINTER_NOTIFY_INFO_DATA);
  const std::size_t textsAt = size;
  for (const Pending& item : items) size += DataSize(item);
  auto* info =
      static_cast<PRINTER_NOTIFY_INFO*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
  if (info == nullptr) return nullptr;
  info->Version = 2;
  info->Flags = discarded ? PRINTER_NOTIFY_INFO_DISCARDED : 0;
  info->Count = discarded ? 0 : static_cast<DWORD>(items.size());
  if (discarded) return info;
  char* at = reinterpret_cast<char*>(info) + textsAt;
  for (std::size_t i = 0; i < items.size(); ++i) {
    PRINTER_NOTIFY_INFO_DATA& data = info->aData[i];
    const Pending& item = items[i];
    data.Type = JOB_NOTIFY_TYPE;
    data.Field = item.field;
    data.Id = item.id;
    if (IsText(item.field)) {
      // The names are kept as the A functions give them, in the ANSI code
      // page; the notifications tell them in UTF-16, as Windows's spooler.
      auto* text = reinterpret_cast<wchar_t*>(at);
      const int units =
          MultiByteToWideChar(CP_ACP, 0, item.text.data(), static_cast<int>(item.text.size()), text,
                              static_cast<int>(item.text.size()));
      text[units > 0 ? units : 0] = L'\0';
      data.NotifyData.Data.cbBuf = static_cast<DWORD>((item.text.size() + 1) * sizeof(wchar_t));
    } else if (item.field == JOB_NOTIFY_FIELD_SUBMITTED) {
      std::memcpy(at, &item.time, sizeof(SYSTEMTIME));
      data.NotifyData.Data.cbBuf = sizeof(SYSTEMTIME);
    } else if (item.field == JOB_NOTIFY_FIELD_DEVMODE) {
      std::memcpy(at, &item.mode, sizeof(DEVMODEW));
      data.NotifyData.Data.cbBuf = sizeof(DEVMODEW);
    } else {
      data.NotifyData.adwData[0] = item.value;
      continue;
    }
    data.NotifyData.Data.pBuf = at;
    at += DataSize(item);
  }
  return info;
}

// ---- The scenario ----

struct Planned {
  ULONGLONG at;
  std::string queue;
  std::string user;
  std::string document;
  DWORD pages;
  bool flash;
};

struct Printing {
  ULONGLONG nextPageAt = 0;
};

std::string Result() {
  char path[MAX_PATH] = {};
  return GetEnvironmentVariableA("PELKO_STANDIN_RESULT", path, sizeof path) > 0 ? path : "";
}

void Append(const std::string& line) {
  const std::string path = Result();
  if (path.empty()) return;
  std::ofstream out(path, std::ios::app | std::ios::binary);
  out << line << "\n";
}

std::string Ended(const std::string& name, const Job& job) {
  std::ostringstream line;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const ULONGLONG unixMs = ticks / 10000 - 11644473600000ULL;
  line << name << " " << job.id << " " << job.user << " " << job.document << " " << job.printed
       << " " << unixMs;
  return line.str();
}

DWORD WINAPI RunScenario(void* file) {
  std::ifstream in(static_cast<const char*>(file));
  std::vector<Planned> plan;
  ULONGLONG pageMs = 300;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string first;
    if (!(words >> first) || first[0] == '#') continue;
    if (first == "page_ms") {
      words >> pageMs;
      continue;
    }
    Planned job{std::stoull(first), {}, {}, {}, 0, false};
    std::string flash;
    words >> job.queue >> job.user >> job.document >> job.pages >> flash;
    job.flash = flash == "flash";
    plan.push_back(job);
  }
  const ULONGLONG start = GetTickCount64();
  std::size_t next = 0;
  std::size_t ended = 0;
  std::map<std::string, Printing> printing;
  while (ended < plan.size()) {
    Sleep(5);
    const ULONGLONG now = GetTickCount64() - start;
    std::vector<std::string> lines;
    {
      Locked locked;
      for (; next < plan.size() && plan[next].at <= now; ++next) {
        const Planned& job = plan[next];
        Queue& queue = (*queues)[job.queue];
        const DWORD id = Add(queue, job.user.c_str(), job.document.c_str(), job.pages);
        if (!job.flash) continue;
        Print(queue, *Find(queue, id), job.pages);
        lines.push_back(Ended(job.queue, *Find(queue, id)));
        End(queue, id);
        ++ended;
      }
      for (auto& [name, queue] : *queues) {
        if (queue.jobs.empty()) continue;
        Job& head = queue.jobs.front();
        Printing& state = printing[name];
        if (state.nextPageAt == 0) state.nextPageAt = now + pageMs;
        if (now < state.nextPageAt) continue;
        Print(queue, head, 1);
        state.nextPageAt = now + pageMs;
        if (head.printed < head.total) continue;
        lines.push_back(Ended(name, head));
        End(queue, head.id);
        ++ended;
      }
    }
    for (const std::string& line : lines) Append(line);
  }
  Append("done");
  return 0;
}

void StartScenarioOnce() {
  StartStepsOnce();
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(
      &once,
      [](INIT_ONCE*, void*, void**) -> BOOL {
        static char file[MAX_PATH];
        if (GetEnvironmentVariableA("PELKO_STANDIN_SCENARIO", file, sizeof file) == 0) return TRUE;
        HANDLE thread = CreateThread(nullptr, 0, RunScenario, file, 0, nullptr);
        if (thread != nullptr) CloseHandle(thread);
        return TRUE;
      },
      nullptr, nullptr);
}

}  // namespace

extern "C" {

BOOL WINAPI OpenPrinterA(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA) {
  if (name == nullptr || std::string(name).rfind("Missing", 0) == 0) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  StartScenarioOnce();
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
  const DWORD jobs = static_cast<DWORD>(queue.jobs.size());
  const DWORD first = firstJob < jobs ? firstJob : jobs;
  const DWORD listed = count < jobs - first ? count : jobs - first;
  DWORD bytes = listed * sizeof(JOB_INFO_1A);
  for (DWORD i = 0; i < listed; ++i) {
    const Job& job = queue.jobs[first + i];
    bytes += static_cast<DWORD>(job.user.size() + job.document.size() + 2);
  }
  *needed = bytes;
  if (bytes > size || (listed > 0 && buffer == nullptr)) {
    if (queue.growOnce && buffer == nullptr) {
      queue.growOnce = false;
      Add(queue, "late", "grown", 1);
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* records = reinterpret_cast<JOB_INFO_1A*>(buffer);
  char* texts = reinterpret_cast<char*>(buffer) + listed * sizeof(JOB_INFO_1A);
  for (DWORD i = 0; i < listed; ++i) {
    const Job& job = queue.jobs[first + i];
    records[i] = JOB_INFO_1A{};
    records[i].JobId = job.id;
    records[i].Status = job.status;
    records[i].PagesPrinted = job.pages;
    records[i].TotalPages = job.total;
    records[i].Position = first + i + 1;
    records[i].Submitted = job.submitted;
    for (auto [text, field] : {std::pair{&job.user, &records[i].pUserName},
                               std::pair{&job.document, &records[i].pDocument}}) {
      std::memcpy(texts, text->c_str(), text->size() + 1);
      *field = texts;
      texts += text->size() + 1;
    }
  }
  *returned = listed;
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE printer) {
  delete static_cast<Printer*>(printer);
  return TRUE;
}

// Level 2 only: the record, its DEVMODE, then its texts.
BOOL WINAPI GetJobA(HANDLE printer, DWORD id, DWORD level, LPBYTE buffer, DWORD size,
                    LPDWORD needed) {
  Locked locked;
  const std::string& name = static_cast<Printer*>(printer)->name;
  Queue& queue = (*queues)[name];
  *needed = 0;
  if (level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  const Job* job = Find(queue, id);
  if (job == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string* texts[] = {&name, &job->machine, &job->user, &job->document};
  DWORD bytes = sizeof(JOB_INFO_2A) + (job->hasMode ? sizeof(DEVMODEA) : 0);
  for (const std::string* text : texts) bytes += static_cast<DWORD>(text->size() + 1);
  *needed = bytes;
  if (bytes > size || buffer == nullptr) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  ++queue.getJobs;
  auto& info = *reinterpret_cast<JOB_INFO_2A*>(buffer);
  info = JOB_INFO_2A{};
  info.JobId = job->id;
  info.Status = job->status;
  info.PagesPrinted = job->pages;
  info.TotalPages = job->total;
  info.Submitted = job->submitted;
  info.Size = job->size;
  char* at = reinterpret_cast<char*>(buffer) + sizeof(JOB_INFO_2A);
  if (job->hasMode) {
    std::memcpy(at, &job->mode, sizeof(DEVMODEA));
    info.pDevMode = reinterpret_cast<DEVMODEA*>(at);
    at += sizeof(DEVMODEA);
  }
  LPSTR* fields[] = {&info.pPrinterName, &info.pMachineName, &info.pUserName, &info.pDocument};
  for (std::size_t i = 0; i < 4; ++i) {
    std::memcpy(at, texts[i]->c_str(), texts[i]->size() + 1);
    *fields[i] = at;
    at += texts[i]->size() + 1;
  }
  return TRUE;
}

// wingdi.h declares it imported, as a program sees it; this is its maker.
#pragma GCC diagnostic ignored "-Wattributes"
int WINAPI DeviceCapabilitiesA(LPCSTR device, LPCSTR, WORD capability, LPSTR, const DEVMODEA*) {
  if (device == nullptr || std::string(device).rfind("Missing", 0) == 0 ||
      capability != DC_COLORDEVICE) {
    return -1;
  }
  Locked locked;
  Queue& queue = (*queues)[device];
  ++queue.capabilityQueries;
  return queue.colorDevice;
}

HANDLE WINAPI FindFirstPrinterChangeNotification(HANDLE printer, DWORD, DWORD, LPVOID options) {
  Locked locked;
  Queue& queue = (*queues)[static_cast<Printer*>(printer)->name];
  // For measuring plain polling: bench/ runs the agent with it set.
  if (queue.refuses || GetEnvironmentVariableA("PELKO_STANDIN_NO_NOTIFICATIONS", nullptr, 0) > 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  Listener listener;
  listener.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const auto* asked = static_cast<const PRINTER_NOTIFY_OPTIONS*>(options);
  listener.fields = asked != nullptr && asked->Count > 0 && asked->pTypes != nullptr &&
                    asked->pTypes[0].Type == JOB_NOTIFY_TYPE;
  queue.listeners.push_back(listener);
  return listener.event;
}

BOOL WINAPI FindNextPrinterChangeNotification(HANDLE change, PDWORD what, LPVOID options,
                                              LPVOID* info) {
  Locked locked;
  if (what != nullptr) *what = PRINTER_CHANGE_JOB;
  if (info != nullptr) *info = nullptr;
  const auto* asked = static_cast<const PRINTER_NOTIFY_OPTIONS*>(options);
  const bool refresh = asked != nullptr && (asked->Flags & PRINTER_NOTIFY_OPTIONS_REFRESH) != 0;
  for (auto& [name, queue] : *queues) {
    for (Listener& listener : queue.listeners) {
      if (listener.event != change) continue;
      if (!refresh) ResetEvent(change);
      if (!listener.fields || info == nullptr) return TRUE;
      if (refresh) {
        std::vector<Pending> all;
        for (const Job& job : queue.jobs) {
          AllFields(job, &all);
          all.push_back({job.id, JOB_NOTIFY_FIELD_STATUS, job.status, {}});
          all.push_back({job.id, JOB_NOTIFY_FIELD_PAGES_PRINTED, job.pages, {}});
        }
        *info = Block(all, false);
      } else {
        *info = Block(listener.pending, listener.discard);
        listener.discard = false;
      }
      listener.pending.clear();
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL WINAPI FreePrinterNotifyInfo(PPRINTER_NOTIFY_INFO info) {
  return info == nullptr || HeapFree(GetProcessHeap(), 0, info);
}

BOOL WINAPI FindClosePrinterChangeNotification(HANDLE change) {
  Locked locked;
  for (auto& [name, queue] : *queues) {
    for (auto at = queue.listeners.begin(); at != queue.listeners.end(); ++at) {
      if (at->event == change) {
        queue.listeners.erase(at);
        break;
      }
    }
  }
  return CloseHandle(change);
}

// ---- The test's controls ----

// Makes the queue hold `jobs` waiting jobs (the latest ones ended).
void StandInSetJobs(const char* name, DWORD jobs) {
  Locked locked;
  Queue& queue = (*queues)[name];
  while (queue.jobs.size() > jobs) End(queue, queue.jobs.back().id);
  while (queue.jobs.size() < jobs) Add(queue, "user", "document", 0);
}

DWORD StandInAddJob(const char* name, const char* user, const char* document) {
  Locked locked;
  return Add((*queues)[name], user, document, 0);
}

// A job with its print details (SetDetails above) from the moment it is
// added, `total` pages to print.
DWORD StandInAddDetailedJob(const char* name, const char* user, const char* document, DWORD total,
                            const char* details) {
  Locked locked;
  return Add((*queues)[name], user, document, total, details);
}

// DC_COLORDEVICE's answer for the queue: 1 colour, 0 not, -1 cannot say.
void StandInSetColorDevice(const char* name, int answer) {
  Locked locked;
  (*queues)[name].colorDevice = answer;
}

// How often GetJobA told a job of the queue (a size query is not counted),
// and how often DeviceCapabilitiesA was asked of it.
long StandInGetJobs(const char* name) {
  Locked locked;
  return (*queues)[name].getJobs;
}

long StandInCapabilityQueries(const char* name) {
  Locked locked;
  return (*queues)[name].capabilityQueries;
}

void StandInPrintPages(const char* name, DWORD id, DWORD pages) {
  Locked locked;
  Queue& queue = (*queues)[name];
  if (Job* job = Find(queue, id)) Print(queue, *job, pages);
}

void StandInEndJob(const char* name, DWORD id) {
  Locked locked;
  End((*queues)[name], id);
}

// Makes the job's status the given one, as a spooler that keeps printed
// jobs shows them.
void StandInSetStatus(const char* name, DWORD id, DWORD status) {
  Locked locked;
  Queue& queue = (*queues)[name];
  if (Job* job = Find(queue, id)) {
    job->status = status;
    Tell(queue, *job, false);
  }
}

// Added, printed and gone between any two looks.
DWORD StandInFlashJob(const char* name, const char* user, const char* document, DWORD pages) {
  Locked locked;
  Queue& queue = (*queues)[name];
  const DWORD id = Add(queue, user, document, pages);
  Print(queue, *Find(queue, id), pages);
  End(queue, id);
  return id;
}

// The spooler restarts: every job gone (told as deleted to the listeners,
// which this stand-in keeps), the next numbered from 1 again, and its clock
// `laterSeconds` on, the time a restart takes. The queues' counters go on.
void StandInRestart(DWORD laterSeconds) {
  Locked locked;
  for (auto& [name, queue] : *queues) {
    while (!queue.jobs.empty()) End(queue, queue.jobs.front().id);
  }
  nextId = 1;
  clockAheadMs += ULONGLONG{laterSeconds} * 1000;
}

void StandInDiscardNext(const char* name) {
  Locked locked;
  Queue& queue = (*queues)[name];
  for (Listener& listener : queue.listeners) {
    listener.discard = true;
    SetEvent(listener.event);
  }
}

void StandInGrowOnce(const char* name) {
  Locked locked;
  (*queues)[name].growOnce = true;
}

void StandInCountPages(const char* name, BOOL counts) {
  Locked locked;
  (*queues)[name].countsPages = counts != FALSE;
}

DWORD StandInPageTotal(const char* name) {
  Locked locked;
  return (*queues)[name].pageTotal;
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

// How many change notifications are open on the queue.
DWORD StandInListeners(const char* name) {
  Locked locked;
  return static_cast<DWORD>((*queues)[name].listeners.size());
}

// True when every listener of the queue has taken in what it was told:
// before that, more changes could overflow its buffer of changes.
BOOL StandInNewsTaken(const char* name) {
  Locked locked;
  for (const Listener& listener : (*queues)[name].listeners) {
    if (!listener.pending.empty() || listener.discard) return FALSE;
    if (WaitForSingleObject(listener.event, 0) == WAIT_OBJECT_0) return FALSE;
  }
  return TRUE;
}

}  // extern "C"
