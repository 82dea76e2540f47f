#include "pelkoctl/posix/host_probe.h"

#include <cups/cups.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "agent/platform/posix/cups/cups_client.h"
#include "agent/platform/posix/cups/cups_server.h"
#include "agent/platform/posix/files/safe_path.h"
#include "agent/platform/posix/registry_store/store_file.h"
#include "agent/platform/posix/process/system_tool.h"
#include "agent/util/coding.h"
#include "pelkoctl/cups_policy.h"
#include "stoptool/posix/system_process_control.h"

namespace pelko::ctl {

namespace {

constexpr char kAgentFileName[] = "pelkomon";
constexpr char kStateFolder[] = "/var/lib/pelko";

constexpr std::size_t kMostToolBytes = 1 << 20;
// Each wait of check's is short, so that the whole stays within 15 s
// whatever does not answer.
constexpr int kToolTimeoutMs = 3000;
constexpr int kSchedulerTimeoutMs = 2000;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int GiveUp(http_t*, void*) { return 0; }

// The scheduler's own configuration: asked of the scheduler within a bound
// (a scheduler that takes the connection and never answers is no reason to
// wait), or read where it keeps it.
std::string SchedulerConfiguration() {
  char temporary[] = "/tmp/pelkoctl-cupsd-XXXXXX";
  const int fd = mkstemp(temporary);
  if (fd >= 0) {
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                kSchedulerTimeoutMs, nullptr);
    http_status_t got = HTTP_STATUS_ERROR;
    if (http != nullptr) {
      httpSetTimeout(http, kSchedulerTimeoutMs / 1000.0, &GiveUp, nullptr);
      got = cupsGetFd(http, "/admin/conf/cupsd.conf", fd);
      httpClose(http);
    }
    close(fd);
    std::string text = got == HTTP_STATUS_OK ? ReadFile(temporary) : "";
    unlink(temporary);
    if (!text.empty()) return text;
  }
  const char* root = std::getenv("CUPS_SERVERROOT");
  return ReadFile(std::string(root != nullptr && *root != '\0' ? root : "/etc/cups") +
                  "/cupsd.conf");
}

struct QueueRules {
  std::string policy;
  bool takesRaw = false;
  std::optional<bool> color;  // color-supported, where the queue says
  bool known = false;
};

QueueRules AskQueue(const std::string& name) {
  QueueRules rules;
  CupsServer server;
  std::string queue;
  if (!ParsePrinterName(name, &server, &queue)) return rules;
  ipp_t* request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, PrinterUri(server, queue));
  static const char* const wanted[] = {"printer-op-policy", "document-format-supported",
                                       "color-supported"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                wanted);
  CupsResult result = CupsClient::Shared().Request(server, request);
  if (result.response == nullptr) return rules;
  rules.known = result.failure == CupsFailure::kNone;
  if (ipp_attribute_t* policy =
          ippFindAttribute(result.response, "printer-op-policy", IPP_TAG_NAME)) {
    rules.policy = ippGetString(policy, 0, nullptr);
  }
  if (ipp_attribute_t* formats =
          ippFindAttribute(result.response, "document-format-supported", IPP_TAG_MIMETYPE)) {
    for (int i = 0; i < ippGetCount(formats); ++i) {
      const std::string format = ippGetString(formats, i, nullptr);
      if (format == "application/vnd.cups-raw" || format == "application/octet-stream") {
        rules.takesRaw = true;
      }
    }
  }
  if (ipp_attribute_t* color =
          ippFindAttribute(result.response, "color-supported", IPP_TAG_BOOLEAN)) {
    rules.color = ippGetBoolean(color, 0) != 0;
  }
  ippDelete(result.response);
  return rules;
}

// Whether unixODBC's odbcinst.ini text turns its trace on ([ODBC]
// Trace=Yes); *file gets its TraceFile.
bool OdbcTraceOn(const std::string& odbcinst, std::string* file) {
  *file = "/tmp/sql.log";
  bool on = false;
  bool inOdbc = false;
  std::istringstream in(odbcinst);
  for (std::string line; std::getline(in, line);) {
    const std::size_t first = line.find_first_not_of(" \t");
    const std::size_t last = line.find_last_not_of(" \t\r");
    if (first == std::string::npos) continue;
    line = line.substr(first, last - first + 1);
    if (line[0] == '[') {
      inOdbc = AsciiEqualFold(line, "[ODBC]");
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inOdbc || equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    key.erase(key.find_last_not_of(" \t") + 1);
    value.erase(0, std::min(value.find_first_not_of(" \t"), value.size()));
    if (AsciiEqualFold(key, "Trace")) {
      on = AsciiEqualFold(value, "yes") || AsciiEqualFold(value, "on") || value == "1";
    }
    if (AsciiEqualFold(key, "TraceFile") && !value.empty()) *file = value;
  }
  return on;
}

}  // namespace

std::string RootWithoutOverrideCannotWrite(const std::string& folder, uint32_t owner,
                                           uint32_t group, uint32_t mode) {
  if (owner == 0 && (mode & S_IWUSR) && (mode & S_IXUSR)) return "";
  if (group == 0 && (mode & S_IWGRP) && (mode & S_IXGRP)) return "";
  if ((mode & S_IWOTH) && (mode & S_IXOTH)) return "";
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", mode & 07777);
  // Root's rights are the owner's only where root owns it.
  std::string fix = owner != 0 ? "chown root '" + folder + "'" : "";
  if (!(mode & S_IWUSR) || !(mode & S_IXUSR)) {
    fix += (fix.empty() ? "" : "; ") + std::string("chmod u+wx '") + folder + "'";
  }
  return "it belongs to uid " + std::to_string(owner) + ", gid " + std::to_string(group) +
         ", mode " + octal +
         ", and the agent runs as root without capabilities, which writes only where root's "
         "own rights allow (" +
         fix + ")";
}

namespace {

// Who else could change an entry: "" when nobody; *owned when it is
// another user's.
std::string OthersMayChange(const struct stat& st, bool stickyExcused, bool* owned) {
  std::string why;
  *owned = st.st_uid != 0 && st.st_uid != geteuid();
  if (OwnedSafely(st, stickyExcused, &why)) return "";
  return why;
}

}  // namespace

std::string PosixHostProbe::StoreRefused() {
  const char* named = std::getenv("PELKO_REGISTRY");
  const std::string store =
      std::filesystem::path(named != nullptr && *named != '\0' ? named : "/var/lib/pelko/registry")
          .lexically_normal()
          .string();
  std::vector<std::string> writable, owned;
  std::string first;
  auto judge = [&](const std::string& path, bool stickyExcused) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    bool other = false;
    const std::string why = OthersMayChange(st, stickyExcused, &other);
    if (why.empty()) return;
    if (first.empty()) first = path + " " + why;
    (other ? owned : writable).push_back(path);
  };
  // As the store's own rule has it, a sticky folder (/tmp) is safe but for
  // a key's own folder, the one holding its values.
  auto sticky = [](const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored) &&
           !std::filesystem::exists(path + "/" + store_file::kValuesFile, ignored);
  };
  std::vector<std::string> above;
  for (std::filesystem::path at = std::filesystem::path(store).parent_path();
       !at.empty() && at != at.parent_path(); at = at.parent_path()) {
    above.insert(above.begin(), at.string());
  }
  for (const std::string& folder : above) judge(folder, true);
  const std::size_t aboveFaults = writable.size() + owned.size();
  judge(store, sticky(store));
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(store, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    judge(it->path().string(), sticky(it->path().string()));
  }
  if (first.empty()) return "";
  // One command for the store's inside, whatever the number of places.
  const bool inside = writable.size() + owned.size() > aboveFaults;
  std::string fix;
  for (const std::string& path : owned) {
    if (path.rfind(store, 0) == 0) continue;
    fix += (fix.empty() ? "" : "; ") + std::string("chown root '") + path + "'";
  }
  for (const std::string& path : writable) {
    if (path.rfind(store, 0) == 0) continue;
    fix += (fix.empty() ? "" : "; ") + std::string("chmod go-w '") + path + "'";
  }
  if (inside) {
    bool ownedInside = false;
    for (const std::string& path : owned) ownedInside |= path.rfind(store, 0) == 0;
    if (ownedInside)
      fix += (fix.empty() ? "" : "; ") + std::string("chown -R root '") + store + "'";
    fix += (fix.empty() ? "" : "; ") + std::string("chmod -R go-w '") + store + "'";
  }
  const std::size_t more = writable.size() + owned.size() - 1;
  return "the settings store " + store + " can be changed by others (" + first +
         (more > 0 ? ", and " + std::to_string(more) + " more place(s)" : "") +
         "), so the agent and pelkoctl use none of its settings (" + fix + ")";
}

bool UnderWritablePaths(const std::string& folder, const std::string& writablePaths) {
  std::istringstream in(writablePaths);
  const std::string target = std::filesystem::path(folder).lexically_normal().string() + "/";
  for (std::string path; in >> path;) {
    while (!path.empty() && (path[0] == '-' || path[0] == '+')) path.erase(0, 1);
    std::string prefix = std::filesystem::path(path).lexically_normal().string();
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    if (target.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

namespace {

// The processes of the agent beside pelkoctl; false where they cannot be
// looked for (*error says why).
bool FindAgent(std::string* program, stoptool::RunningProgram* running,
               stoptool::ProcessControl::Found* found, std::string* error) {
  stoptool::PosixProcessControl processes(static_cast<uint32_t>(getuid()));
  std::string folder;
  if (!processes.OwnFolder(&folder, error)) {
    *error = "cannot tell where pelkoctl lies: " + *error;
    return false;
  }
  *program = folder + "/" + kAgentFileName;
  *found = processes.FindRunning(*program, running, error);
  return true;
}

}  // namespace

std::optional<int64_t> PosixHostProbe::AgentStartedAt() {
  std::string program, error;
  stoptool::RunningProgram running;
  stoptool::ProcessControl::Found found;
  if (!FindAgent(&program, &running, &found, &error) || running.ids.empty()) return std::nullopt;
  // /proc/PID/stat's 22nd field: the start in clock ticks after the boot,
  // which /proc/stat's btime gives in seconds since 1970.
  std::ifstream stat("/proc/" + std::to_string(running.ids.front()) + "/stat");
  std::string line;
  if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 22; ++i) {
    if (!(fields >> field)) return std::nullopt;
  }
  std::ifstream system("/proc/stat");
  int64_t boot = -1;
  for (std::string name; system >> name;) {
    if (name == "btime") {
      system >> boot;
      break;
    }
  }
  const long ticks = sysconf(_SC_CLK_TCK);
  char* end = nullptr;
  const unsigned long long started = std::strtoull(field.c_str(), &end, 10);
  if (boot < 0 || ticks <= 0 || end == field.c_str()) return std::nullopt;
  return boot + static_cast<int64_t>(started / static_cast<unsigned long long>(ticks));
}

std::optional<std::vector<HistoryJob>> PosixHostProbe::SpoolerHistory() {
  CupsServer server;
  std::string queue;
  if (!ParsePrinterName("any", &server, &queue)) return std::nullopt;
  // The server's own URI asks after the jobs of every queue.
  std::string uri = PrinterUri(server, queue);
  uri.erase(uri.rfind("/printers/") + 1);
  ipp_t* request = NewRequest(IPP_OP_GET_JOBS, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "completed");
  static const char* const wanted[] = {
      "job-id",    "job-printer-uri",           "job-name",        "job-originating-user-name",
      "job-state", "job-impressions-completed", "document-format", "time-at-completed"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(std::size(wanted)), nullptr, wanted);
  CupsResult result = CupsClient::Shared().Request(server, request);
  if (result.failure != CupsFailure::kNone) {
    ippDelete(result.response);
    return std::nullopt;
  }
  std::vector<HistoryJob> jobs;
  HistoryJob job;
  auto finish = [&] {
    if (job.id != 0) jobs.push_back(job);
    job = HistoryJob();
  };
  for (ipp_attribute_t* a = ippFirstAttribute(result.response); a != nullptr;
       a = ippNextAttribute(result.response)) {
    const char* name = ippGetName(a);
    if (name == nullptr) {
      finish();
      continue;
    }
    if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
    const std::string attribute = name;
    const char* text = ippGetString(a, 0, nullptr);
    if (attribute == "job-id") {
      job.id = static_cast<uint32_t>(std::max(ippGetInteger(a, 0), 0));
    } else if (attribute == "job-printer-uri" && text != nullptr) {
      job.queue = std::string(text).substr(std::string(text).rfind('/') + 1);
    } else if (attribute == "job-name" && text != nullptr) {
      job.title = text;
    } else if (attribute == "job-originating-user-name" && text != nullptr) {
      job.user = text;
    } else if (attribute == "job-state") {
      job.cancelled = ippGetInteger(a, 0) != IPP_JSTATE_COMPLETED;
    } else if (attribute == "job-impressions-completed") {
      job.pages = static_cast<uint32_t>(std::max(ippGetInteger(a, 0), 0));
    } else if (attribute == "document-format" && text != nullptr) {
      job.raw = std::string(text) == "application/vnd.cups-raw";
    } else if (attribute == "time-at-completed" && ippGetValueTag(a) == IPP_TAG_INTEGER) {
      job.endedAt = ippGetInteger(a, 0);
    }
  }
  finish();
  ippDelete(result.response);
  return jobs;
}

std::string PosixHostProbe::AgentNotRunning() {
  std::string program, error;
  stoptool::RunningProgram running;
  stoptool::ProcessControl::Found found;
  if (!FindAgent(&program, &running, &found, &error)) return error;
  switch (found) {
    case stoptool::ProcessControl::Found::kNoProgramFile:
      return "there is no agent program at " + program + " (apt install --reinstall pelko)";
    case stoptool::ProcessControl::Found::kFailed:
      return "cannot look for it: " + error;
    case stoptool::ProcessControl::Found::kYes:
      break;
  }
  if (!running.ids.empty()) return "";
  if (!running.replaced.empty()) {
    return "only an older copy of " + program + " runs (restart it: systemctl restart pelkomon)";
  }
  return "no process runs " + program +
         " (systemctl start pelkomon; journalctl -u pelkomon says why it stopped)";
}

std::string PosixHostProbe::UnitWritablePaths(bool* known) {
  if (!unitAsked) {
    unitAsked = true;
    struct stat st;
    if (stat("/run/systemd/system", &st) == 0) {
      const ToolRun shown = RunSystemTool(
          "systemctl", {"show", "-p", "LoadState", "-p", "ReadWritePaths", "pelkomon.service"},
          kMostToolBytes, kToolTimeoutMs);
      std::istringstream in(shown.output);
      for (std::string line; std::getline(in, line);) {
        if (line == "LoadState=loaded") unitKnown = true;
        if (line.rfind("ReadWritePaths=", 0) == 0) unitPaths = line.substr(15);
      }
    }
  }
  *known = unitKnown;
  return unitPaths;
}

std::string PosixHostProbe::ServiceCannotWrite(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return "it is not a folder (move it aside and make the folder in its place)";
  }
  struct statvfs fs;
  if (statvfs(folder.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY)) {
    return "it lies on a file system mounted read-only (mount it read-write, or set Path to a "
           "folder on one: pelkoctl set Path FOLDER)";
  }
  std::string why = RootWithoutOverrideCannotWrite(folder, st.st_uid, st.st_gid, st.st_mode);
  if (!why.empty()) return why;
  bool unitKnown = false;
  const std::string writable = UnitWritablePaths(&unitKnown);
  if (unitKnown && !UnderWritablePaths(folder, std::string(kStateFolder) + " " + writable)) {
    return "the service may write only under " + std::string(kStateFolder) +
           (writable.empty() ? "" : " and " + writable) +
           ": add a drop-in with ReadWritePaths=" + folder + " (docs/install.md)";
  }
  return "";
}

std::vector<std::string> PosixHostProbe::RecentAgentLines() {
  std::vector<std::string> lines;
  struct stat st;
  if (stat("/run/systemd/system", &st) != 0) return lines;
  // Newest first, so that the bound on bytes drops the oldest.
  const ToolRun said = RunSystemTool("journalctl",
                                     {"-u", "pelkomon.service", "-p", "warning", "--since", "-24h",
                                      "-n", "500", "-r", "-o", "short-iso", "--no-pager", "-q"},
                                     kMostToolBytes, kToolTimeoutMs);
  std::string text = said.output;
  text.erase(text.rfind('\n') + 1);  // a line the bound cut short
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    // "TIME host pelkomon[pid]: text" -> "TIME text"
    const std::size_t time = line.find(' ');
    const std::size_t text = line.find("]: ");
    if (time == std::string::npos || text == std::string::npos) continue;
    lines.push_back(line.substr(0, time) + " " + line.substr(text + 3));
  }
  std::reverse(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> PosixHostProbe::DriverManagerLogWarnings() {
  const char* folder = std::getenv("ODBCSYSINI");
  const std::string path =
      std::string(folder != nullptr && *folder != '\0' ? folder : "/etc") + "/odbcinst.ini";
  std::string file;
  if (!OdbcTraceOn(ReadFile(path), &file)) return {};
  return {"unixODBC traces every ODBC call (Trace in " + path + ") to " + file +
          ": the statements and rows the agent, pelkodb, pelkoreport and the mail program "
          "send to the database, in a file of the caller's (the password is masked); set "
          "Trace=No once done"};
}

std::vector<std::string> PosixHostProbe::SpoolerRuleWarnings(
    const std::vector<std::string>& queues) {
  std::vector<std::string> warnings;
  if (queues.empty()) return warnings;
  const std::string conf = SchedulerConfiguration();
  const std::vector<std::string> trusting = PoliciesTrustingClientNames(conf);
  const std::string defaultPolicy = DefaultPolicyName(conf);
  std::map<std::string, std::string> trustingQueues;  // policy -> queues
  for (const std::string& name : queues) {
    const QueueRules rules = AskQueue(name);
    if (!rules.known) continue;
    const std::string policy = rules.policy.empty() ? defaultPolicy : rules.policy;
    for (const std::string& candidate : trusting) {
      if (!AsciiEqualFold(candidate, policy)) continue;
      std::string& list = trustingQueues[candidate];
      list += (list.empty() ? "" : ", ") + name;
    }
    if (rules.takesRaw) {
      warnings.push_back("queue '" + name +
                         "' accepts raw jobs (lp -o raw): their pages are not counted, so any "
                         "user can print at no cost there");
    }
  }
  if (conf.empty()) {
    warnings.push_back(
        "the scheduler's configuration (cupsd.conf) could not be read, so who may "
        "name a job's owner is not known");
  }
  for (const auto& [policy, list] : trustingQueues) {
    warnings.push_back("CUPS policy '" + policy +
                       "' lets any user name a job's owner (Create-Job/"
                       "Print-Job need no authentication): 'lp -U someone' bills someone on " +
                       list + " (docs/install.md, Who is billed)");
  }
  return warnings;
}

std::optional<bool> PosixHostProbe::QueuePrintsColor(const std::string& queue) {
  const QueueRules rules = AskQueue(queue);
  return rules.known ? rules.color : std::nullopt;
}

std::string PosixHostProbe::OthersWhoMayWrite(const std::string& folder) {
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "";
  // In a sticky folder others may only add files, which are never taken in.
  if (st.st_mode & S_ISVTX) return "";
  if ((st.st_mode & S_IWOTH) && (st.st_mode & S_IXOTH)) return "everyone";
  if (st.st_gid == 0 || !(st.st_mode & S_IWGRP) || !(st.st_mode & S_IXGRP)) return "";
  const struct group* entry = getgrgid(st.st_gid);
  return "group " + (entry != nullptr ? std::string(entry->gr_name) : std::to_string(st.st_gid));
}

}  // namespace pelko::ctl
