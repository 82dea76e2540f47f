#include "pelkoctl/health_check.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "agent/accounting/tariff.h"
#include "agent/config/setting_table.h"
#include "agent/database/log_sync.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/mail/email_alert_thread.h"
#include "agent/monitor/pending_pages.h"
#include "agent/platform/odbc/connection_text.h"
#include "agent/util/coding.h"
#include "pelkoctl/last_mail.h"
#include "pelkoctl/pelko_key.h"
#include "pelkoctl/printer_admin.h"
#include "pelkoctl/setting_admin.h"

namespace pelko::ctl {

namespace {

// The wait for the central database, within the check's whole bound.
constexpr uint32_t kDatabaseSeconds = 4;
// A log the database lacks for longer than this is late: the agent sends
// a changed log within seconds while it reaches the database.
constexpr int64_t kSyncLateSeconds = 120;

class Findings {
 public:
  Findings(const std::function<void(const Finding&)>& sink, std::set<std::string> accepted)
      : sink(sink), accepted(std::move(accepted)) {}
  void Ok(const std::string& line) { sink({Verdict::kOk, line, ""}); }
  void Note(const std::string& line) { sink({Verdict::kNote, line, ""}); }
  void Fault(const std::string& line) {
    ++faults;
    sink({Verdict::kFault, line, ""});
  }
  // A warning of a kind the site may accept: then shown, not counted.
  void Warn(const std::string& kind, const std::string& line) {
    if (accepted.count(kind)) {
      sink({Verdict::kNote, line + " [" + kind + ", accepted]", kind});
    } else {
      sink({Verdict::kWarning, line + " [" + kind + "]", kind});
    }
  }
  int faults = 0;

 private:
  const std::function<void(const Finding&)>& sink;
  std::set<std::string> accepted;
};

std::set<std::string> AcceptedKinds(Registry& registry) {
  auto stored = PelkoKey(registry).Get("AcceptedWarnings");
  std::string text = stored && stored->Text() ? *stored->Text() : "";
  std::replace(text.begin(), text.end(), ',', ' ');
  std::istringstream in(AsciiLowered(text));
  std::set<std::string> kinds;
  for (std::string kind; in >> kind;) kinds.insert(kind);
  return kinds;
}

// The settings of the table; nPrinters is the printers' to judge. Returns
// whether every one is stored as the agent reads it.
bool CheckSettings(const Env& env, Findings& found) {
  SettingAdmin admin(*env.registry);
  bool clean = true;
  for (const SettingInfo& setting : KnownSettings()) {
    if (std::string(setting.name) == "nPrinters") continue;
    const SettingLine line = admin.Look(setting);
    if (line.trouble.empty()) continue;
    std::string fix = line.fix;
    if (setting.owner == SettingOwner::kAgent) {
      fix = HintsFor(env).deleteValue + setting.name + " (the agent writes it again)";
    }
    found.Fault(std::string("setting ") + setting.name + " = " + line.shown + ": " + line.trouble +
                " (" + fix + ")");
    clean = false;
  }
  return clean;
}

struct PrinterState {
  std::vector<PrinterRow> rows;  // the printers the agent accounts, by name
  bool spoolerDown = false;
  bool valuesClean = true;
};

PrinterState CheckPrinters(const Env& env, Findings& found) {
  PrinterState state;
  const PlatformHints& hints = HintsFor(env);
  PelkoKey key(*env.registry);
  auto running = key.Get("AppIsRunning");
  if (!running || running->Number() != 1u) {
    found.Fault("AppIsRunning is not 1: accounting is off (pelkoctl set AppIsRunning 1)");
  }
  std::vector<PrinterRow> rows;
  std::string countProblem;
  PrinterAdmin admin(env);
  Outcome listed = admin.List(&rows, &countProblem);
  if (!listed.ok()) {
    found.Fault("printers: " + listed.problem);
    state.valuesClean = false;
    return state;
  }
  if (!countProblem.empty()) {
    found.Fault(countProblem);
    state.valuesClean = false;
  }
  std::vector<std::string> down;
  for (const PrinterRow& row : rows) {
    const std::string which =
        "printer " + std::to_string(row.slot) + (row.name.empty() ? "" : " '" + row.name + "'");
    if (!row.problem.empty()) {
      found.Fault(which + ": " + row.problem + " (" + row.fix + ")");
      state.valuesClean = false;
    }
    if (row.name.empty() || row.hidden) continue;
    state.rows.push_back(row);
    switch (row.queue) {
      case QueueState::kPresent:
        found.Ok(which + ": the spooler has the queue");
        break;
      case QueueState::kMissing:
        found.Fault(which +
                    ": the spooler has no such queue; its jobs are not accounted "
                    "(pelkoctl remove \"" +
                    row.name + "\", then add the right name; " + hints.listQueues + ")");
        break;
      case QueueState::kSpoolerDown:
        down.push_back(row.name);
        break;
    }
  }
  if (state.rows.empty() && countProblem.empty()) {
    found.Fault("no printer is configured: pelkoctl add NAME --cost N");
  }
  if (!down.empty()) {
    // One cause, said once: every queue it serves is unknown while it is.
    std::string names;
    for (const std::string& name : down) names += (names.empty() ? "'" : ", '") + name + "'";
    found.Fault("the spooler does not answer (asked about " + names +
                "): nothing is accounted while it does not (" + hints.startSpooler + ")");
    state.spoolerDown = true;
  }
  return state;
}

// Prices the agent would misread, and colour pages billed at the mono
// price where nobody said they should be. Returns whether every price is
// stored as the agent reads it.
bool CheckPrices(HostProbe* probe, const PrinterState& printers, Findings& found) {
  const int faultsBefore = found.faults;
  for (const PrinterRow& row : printers.rows) {
    const std::string which = "printer " + std::to_string(row.slot) + " '" + row.name + "': ";
    const std::string mend = " (pelkoctl cost \"" + row.name + "\" ";
    const StoredPrices& stored = row.stored;
    if (stored.colorCost && !stored.colorCost->Number()) {
      found.Fault(which + "its colour price is stored as " + stored.colorCost->Describe() +
                  ", which the agent ignores: colour pages cost the mono price" + mend +
                  "--color-cost N)");
    }
    if (stored.duplexDiscount && !stored.duplexDiscount->Number()) {
      found.Fault(which + "its two-sided discount is stored as " +
                  stored.duplexDiscount->Describe() + ", which the agent reads as none" + mend +
                  "--duplex-discount PCT)");
    } else if (stored.duplexDiscount && *stored.duplexDiscount->Number() > 100) {
      found.Warn("discount-over-100", which + "its two-sided discount is " +
                                          std::to_string(*stored.duplexDiscount->Number()) +
                                          "%, taken as 100%: two-sided pages are free" + mend +
                                          "--duplex-discount PCT)");
    }
    if (stored.paperFactors) {
      const std::optional<std::string> text = stored.paperFactors->Text();
      std::vector<std::pair<std::string, uint32_t>> factors;
      std::string why = "it must be a REG_SZ";
      if (!text || !ParsePaperFactors(*text, &factors, &why)) {
        found.Fault(which + "its paper factors " + stored.paperFactors->Describe() + ": " + why +
                    "; the agent counts every paper 1" + mend + "--paper-factors TEXT)");
      }
    }
    if (!printers.spoolerDown && !stored.colorCost && probe != nullptr &&
        probe->QueuePrintsColor(row.name) == true) {
      found.Warn("colour-price",
                 which + "the printer prints colour but has no colour price: colour pages cost " +
                     std::to_string(row.cost) + ", the mono price" + mend +
                     "--color-cost N; N the same as the mono price says so on purpose)");
    }
  }
  return found.faults == faultsBefore;
}

// The folder, then whether the service can write in it; false when missing.
bool CheckFolder(const Env& env, HostProbe* probe, const std::string& what,
                 const std::string& folder, const std::string& make, Findings& found) {
  if (!env.files->OpenFolder(folder)) {
    found.Fault(what + " " + folder + ": the folder is missing (" + make + folder + ")");
    return false;
  }
  const std::string why = probe != nullptr ? probe->ServiceCannotWrite(folder) : "";
  if (!why.empty()) {
    found.Fault(what + " " + folder + ": not writable by the agent's service: " + why);
    return false;
  }
  found.Ok(what + " " + folder + ": there and writable by the agent");
  return true;
}

// The Path folder, when it is set and there.
std::string CheckPath(const Env& env, HostProbe* probe, Findings& found) {
  const PlatformHints& hints = HintsFor(env);
  PelkoKey key(*env.registry);
  auto path = key.Get("Path");
  const std::string folder = path && path->Text() ? *path->Text() : "";
  if (folder.empty()) {
    found.Fault("Path is not set: no log can be written (pelkoctl set Path FOLDER)");
    return "";
  }
  if (!CheckFolder(env, probe, "Path", folder, hints.makeFolder, found)) return "";
  const std::string logs = LogsFolder(folder, env.files->Separator());
  if (!CheckFolder(env, probe, "Logs folder", logs, hints.makeLogsFolder, found) ||
      probe == nullptr) {
    return folder;
  }
  // A site's choice, and a safe one as far as it goes: say how far.
  const std::string others = probe->OthersWhoMayWrite(logs);
  if (!others.empty()) {
    found.Warn("logs-writers",
               "Logs folder " + logs + ": " + others +
                   " may write it, and so delete or rename any log or pending pages (that day's "
                   "entries are then gone) or make the agent set what they put there aside; they "
                   "cannot change a log, have their own files gathered, or move the record of "
                   "which jobs were billed (docs/logs.md)");
  }
  return folder;
}

// Pages a printer's thread holds on disk because it could not write its
// daily log: they are billed once it can, but not yet.
void CheckPending(const Env& env, const PrinterState& printers, Findings& found) {
  for (const PrinterRow& row : printers.rows) {
    std::string text;
    if (env.files->ReadText(PendingPagesPath(env, row.name), &text) != FileStatus::kOk) continue;
    const std::vector<JobRecord> jobs = DecodePendingPages(text, row.name);
    if (jobs.empty()) continue;
    int32_t pages = 0;
    for (const JobRecord& job : jobs) pages += job.pages;
    found.Warn("pending", "printer '" + row.name + "': " + std::to_string(jobs.size()) +
                              " job(s), " + std::to_string(pages) +
                              " page(s) held pending, not yet in its daily log (entered once the "
                              "log can be written)");
  }
}

void CheckMail(const Env& env, const std::string& folder, Findings& found) {
  const PlatformHints& hints = HintsFor(env);
  PelkoKey key(*env.registry);
  auto on = key.Get("EmailAlert");
  if (!on || on->Number() != 1u) {
    found.Ok("mailing is off (pelkoctl set EmailAlert 1 turns it on)");
    return;
  }
  if (!folder.empty()) {
    const std::string program = folder + env.files->Separator() + kMailProgramName;
    LaunchResult vetted = VetMailProgram(env, folder);
    if (vetted.Started()) vetted = env.launcher->Check(program);
    if (vetted.Started()) {
      found.Ok("mail program " + program + " would be started");
    } else if (vetted.status == LaunchStatus::kRefused) {
      found.Fault("mail program " + program + " would be refused: " + vetted.reason +
                  " (docs/install.md, \"Who may change what\")");
    } else {
      found.Fault("mail program " + program + " cannot be started: " + vetted.reason + " (" +
                  hints.placeMailProgram + program + ")");
    }
  }
  std::string missing;
  for (const char* name : {"MailServer", "MailFrom", "MailTo"}) {
    auto value = key.Get(name);
    if (!value || !value->Text() || value->Text()->empty()) {
      missing += missing.empty() ? name : std::string(", ") + name;
    }
  }
  if (!missing.empty()) {
    found.Fault("mail settings incomplete: " + missing +
                " not set; no mail can be sent (pelkoctl set NAME TEXT for each)");
  }
  auto user = key.Get("MailUser");
  auto password = key.Get("MailPassword");
  if (user && user->Text() && !user->Text()->empty() && !password) {
    found.Fault("MailUser is set but no password: set it with sendrik /setpassword");
  }
  auto time = key.Get("EmailAlertTime");
  auto every = key.Get("EmailAlertFreq");
  const bool atTime = time && time->Text() && !time->Text()->empty();
  if (!atTime && (!every || every->Number().value_or(0) == 0)) {
    found.Warn("mail-every-minute",
               "neither EmailAlertFreq nor EmailAlertTime is set: the report is mailed every "
               "minute (pelkoctl set EmailAlertFreq MINUTES, or EmailAlertTime HH:MM)");
  }
  if (missing.empty()) found.Ok("mail settings complete");
}

// Logs a database driver writes because the connection string asks: files
// of the driver's own, beyond the agent's care, in its log folder (/tmp
// unless set otherwise).
void CheckDatabaseLogs(const std::string& connection, HostProbe* probe, Findings& found) {
  for (const std::string& attribute : DriverLogAttributes(connection)) {
    found.Warn("driver-log",
               "DatabaseConnection sets " + attribute +
                   ": the ODBC driver logs every connection of the agent, pelkodb, pelkoreport "
                   "and the mail program to files of its own (psqlODBC: psqlodbc_*.log, "
                   "mylog_*.log in /tmp), with the database password, every statement and the "
                   "rows sent (user names, titles); remove it once done (docs/database.md)");
  }
  if (probe == nullptr) return;
  for (const std::string& warning : probe->DriverManagerLogWarnings()) {
    found.Warn("driver-log", warning);
  }
}

// "2026-12-08 21:30 UTC" of a file time, by the calendar's arithmetic.
std::string UtcText(uint64_t fileTime) {
  using namespace std::chrono;
  const sys_seconds at{seconds{static_cast<int64_t>(fileTime / 10000000) - 11644473600}};
  const sys_days day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{at - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d UTC", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()));
  return text;
}

// Whether the central database answers within a bound, and holds every
// daily log as it is now: what it was sent of each log is what the sink
// records there (pelko_sync_state), so a log it lacks is one not synced yet.
void CheckDatabase(const Env& env, const std::string& connection, const std::string& folder,
                   Findings& found) {
  if (env.sql == nullptr) return;
  SealedPassword password;
  RegKey key = nullptr;
  if (env.registry->OpenKey(RootKey::kLocalMachine, "Software\\Pelko", kKeyRead, &key) ==
      kErrorSuccess) {
    if (QueryValueBytes(*env.registry, key, "DatabasePassword", &password.type, &password.data) !=
        kErrorSuccess) {
      password = SealedPassword{};
    }
    env.registry->CloseKey(key);
  }
  const std::string away =
      " the jobs wait in the daily logs and are sent when it is back (pelkodb --check; "
      "docs/database.md)";
  std::string error;
  auto database = env.sql->Connect(connection, password, kDatabaseSeconds, &error);
  std::fill(password.data.begin(), password.data.end(), '\0');
  if (!database) {
    found.Fault("the central database cannot be reached within " +
                std::to_string(kDatabaseSeconds) + " s: " + error + ";" + away);
    return;
  }
  std::map<std::string, database::SentState> sent;
  if (!database::ReadSentState(*database, database::SyncServerName(env), &sent, &error)) {
    found.Fault("the central database answers but cannot tell what it holds: " + error + ";" +
                away);
    return;
  }
  const std::string product = database->ProductName();
  if (folder.empty()) {
    found.Ok("the central database (" + product + ") answers");
    return;
  }
  const std::vector<database::ChangedLog> changed =
      database::ChangedLogs(env, LogsFolder(folder, env.files->Separator()), sent);
  if (changed.empty()) {
    found.Ok("the central database (" + product +
             ") answers and holds every daily log as it is now");
    return;
  }
  uint64_t oldest = changed.front().file.lastWritten;
  for (const database::ChangedLog& log : changed) oldest = std::min(oldest, log.file.lastWritten);
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const int64_t age = now + 11644473600 - static_cast<int64_t>(oldest / 10000000);
  const std::string said = "the central database (" + product + ") lacks " +
                           std::to_string(changed.size()) +
                           " daily log(s) as they are now, the oldest changed " + UtcText(oldest);
  if (age <= kSyncLateSeconds) {
    found.Ok(said + ": being sent");
  } else {
    found.Warn("database-behind", said +
                                      ": the agent sends a changed log within seconds while it "
                                      "reaches the database (is the agent running? its log says "
                                      "why it cannot send)");
  }
}

// Printers the settings name but the agent does not watch: written by hand
// without raising IsModified, the agent never took them up. A watched
// printer has its book of seen jobs in Path from its first look on.
void CheckWatched(const Env& env, const PrinterState& printers, const std::string& folder,
                  Findings& found) {
  if (folder.empty() || printers.spoolerDown) return;
  PelkoKey key(*env.registry);
  auto running = key.Get("AppIsRunning");
  if (!running || running->Number() != 1u) return;
  auto modified = key.Get("IsModified");
  const bool takingUp = modified && modified->Number() == 1u;
  for (const PrinterRow& row : printers.rows) {
    if (row.queue != QueueState::kPresent) continue;
    const std::string book =
        folder + env.files->Separator() + PrinterFileName(row.name, *env.files, "seen");
    if (env.files->Exists(book)) continue;
    const std::string which = "printer " + std::to_string(row.slot) + " '" + row.name + "'";
    if (takingUp) {
      found.Warn("not-watched-yet", which +
                                        " is not watched yet: IsModified is 1, and the agent "
                                        "takes the changed printers up within 10 s");
    } else {
      found.Fault(which +
                  " is not watched: the agent has not taken it up, as it was written "
                  "without raising IsModified (by reg.exe or by hand); its jobs are not "
                  "accounted (" +
                  HintsFor(env).raiseModified + ")");
    }
  }
}

std::string SpoolerRuleKind(const std::string& line) {
  if (line.find("accepts raw jobs") != std::string::npos) return "raw-jobs";
  if (line.find("name a job's owner") != std::string::npos) return "owner-names";
  return "spooler-rules";
}

}  // namespace

const PlatformHints& HintsFor(const Env& env) {
  static const PlatformHints kWindows{
      "Get-Printer in PowerShell lists them",
      "sc start Spooler",
      "sc stop Pelkomon, then sc start Pelkomon",
      "pelkoctl set IsModified 1, or reg add HKLM\\Software\\Pelko /v IsModified /t REG_DWORD "
      "/d 1 /f",
      "mkdir ",
      "mkdir ",
      "copy Sendrik.exe from the folder Pelko was installed in: copy \"%ProgramFiles%\\Pelko\\"
      "Sendrik.exe\" ",
      "reg delete HKLM\\Software\\Pelko /f /v "};
  static const PlatformHints kPosix{
      "lpstat -e lists them",       "systemctl restart cups; lpstat -r says whether it answers",
      "systemctl restart pelkomon", "pelkoctl set IsModified 1",
      "install -d -m 0755 ",        "install -d -m 2750 -g pelko ",
      "ln -s /usr/sbin/sendrik ",   "pelkoreg delete 'HKLM\\Software\\Pelko' /f /v "};
  return env.files->Separator() == '\\' ? kWindows : kPosix;
}

std::vector<std::string> LastOfEachKind(const std::vector<std::string>& lines, std::size_t most) {
  std::vector<std::pair<std::string, std::string>> last;  // kind, line; oldest first
  for (const std::string& line : lines) {
    const std::size_t text = line.find(' ');
    const std::string message = text == std::string::npos ? line : line.substr(text + 1);
    const std::string kind = message.substr(0, std::min(message.find(':'), std::size_t{48}));
    for (auto at = last.begin(); at != last.end(); ++at) {
      if (at->first == kind) {
        last.erase(at);
        break;
      }
    }
    last.emplace_back(kind, line);
  }
  std::vector<std::string> kept;
  for (std::size_t i = last.size() > most ? last.size() - most : 0; i < last.size(); ++i) {
    kept.push_back(last[i].second);
  }
  return kept;
}

void CheckAll(const Env& env, HostProbe* probe, const std::function<void(const Finding&)>& sink) {
  if (probe != nullptr) {
    // Nothing else can be judged from a store the agent does not use.
    if (const std::string refused = probe->StoreRefused(); !refused.empty()) {
      sink({Verdict::kFault, refused, ""});
      return;
    }
  }
  Findings found(sink, AcceptedKinds(*env.registry));
  const bool settingsClean = CheckSettings(env, found);
  const PrinterState printers = CheckPrinters(env, found);
  const bool pricesClean = CheckPrices(probe, printers, found);
  // Said only when nothing above or below says otherwise.
  if (settingsClean && printers.valuesClean && pricesClean) {
    found.Ok("every setting is stored with its type and in range");
  }
  const std::string folder = CheckPath(env, probe, found);
  if (!folder.empty()) CheckPending(env, printers, found);
  CheckMail(env, folder, found);
  if (auto lastMail = LastMailFinding(*env.registry)) {
    lastMail->verdict == Verdict::kFault ? found.Fault(lastMail->line) : found.Ok(lastMail->line);
  }
  auto connection = PelkoKey(*env.registry).Get("DatabaseConnection");
  const std::string database = connection && connection->Text() ? *connection->Text() : "";
  if (!database.empty()) {
    CheckDatabaseLogs(database, probe, found);
    CheckDatabase(env, database, folder, found);
  }
  if (probe == nullptr) return;
  const std::string why = probe->AgentNotRunning();
  if (why.empty()) {
    found.Ok("the agent is running");
    CheckWatched(env, printers, folder, found);
  } else {
    found.Fault("the agent is not running: " + why);
  }
  if (!printers.spoolerDown) {
    std::vector<std::string> queues;
    for (const PrinterRow& row : printers.rows) queues.push_back(row.name);
    for (const std::string& warning : probe->SpoolerRuleWarnings(queues)) {
      found.Warn(SpoolerRuleKind(warning), warning);
    }
  }
  // What the agent said lately (pages it holds pending, logs it could not
  // write): the past, so it does not fail the check by itself.
  for (const std::string& line : LastOfEachKind(probe->RecentAgentLines(), 10)) {
    found.Note("the agent said " + line);
  }
}

std::optional<Finding> DatabaseFinding(const Env& env, const std::string& folder) {
  auto connection = PelkoKey(*env.registry).Get("DatabaseConnection");
  if (!connection || !connection->Text() || connection->Text()->empty()) return std::nullopt;
  std::optional<Finding> said;
  const std::function<void(const Finding&)> sink = [&](const Finding& finding) { said = finding; };
  Findings found(sink, {});
  CheckDatabase(env, *connection->Text(), folder, found);
  return said;
}

std::vector<Finding> CheckAll(const Env& env, HostProbe* probe) {
  std::vector<Finding> all;
  CheckAll(env, probe, [&](const Finding& finding) { all.push_back(finding); });
  return all;
}

int RunCheck(const Env& env, HostProbe* probe, std::ostream& out, CheckForm form) {
  int faults = 0;
  int warnings = 0;
  int accepted = 0;
  std::string first;        // the first fault, else the first warning
  std::ostringstream held;  // the probe form's lines, after its summary
  std::ostream& lines = form == CheckForm::kProbe ? held : out;
  CheckAll(env, probe, [&](const Finding& finding) {
    switch (finding.verdict) {
      case Verdict::kOk:
        lines << "ok     ";
        break;
      case Verdict::kNote:
        lines << "note   ";
        accepted += finding.kind.empty() ? 0 : 1;
        break;
      case Verdict::kWarning:
        lines << "WARN   ";
        if (faults == 0 && warnings == 0) first = finding.line;
        ++warnings;
        break;
      case Verdict::kFault:
        lines << "FAULT  ";
        if (faults == 0) first = finding.line;
        ++faults;
        break;
    }
    // Said as soon as known: a probe that waits shows what came before it.
    lines << finding.line << std::endl;
  });
  const int status = faults > 0 ? kCheckFault : warnings > 0 ? kCheckWarning : kCheckOk;
  std::string summary = faults == 0 && warnings == 0 ? "all is well"
                                                     : std::to_string(faults) + " fault(s), " +
                                                           std::to_string(warnings) + " warning(s)";
  if (accepted > 0) summary += " (" + std::to_string(accepted) + " accepted warning(s))";
  if (form == CheckForm::kProbe) {
    static const char* const kState[] = {"OK", "WARNING", "CRITICAL"};
    // A '|' would begin a plugin's figures.
    std::replace(first.begin(), first.end(), '|', '/');
    out << "PELKO " << kState[status] << " - " << summary << (first.empty() ? "" : ": " + first)
        << " | faults=" << faults << " warnings=" << warnings << " accepted=" << accepted << '\n'
        << held.str() << std::flush;
  } else {
    out << summary << std::endl;
  }
  return status;
}

}  // namespace pelko::ctl
