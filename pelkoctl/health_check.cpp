#include "pelkoctl/health_check.h"

#include <algorithm>
#include <utility>

#include "agent/accounting/tariff.h"
#include "agent/config/setting_table.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/mail/email_alert_thread.h"
#include "agent/monitor/pending_pages.h"
#include "agent/platform/odbc/connection_text.h"
#include "pelkoctl/last_mail.h"
#include "pelkoctl/pelko_key.h"
#include "pelkoctl/printer_admin.h"
#include "pelkoctl/setting_admin.h"

namespace pelko::ctl {

namespace {

class Findings {
 public:
  void Ok(const std::string& line) { all.push_back({Verdict::kOk, line}); }
  void Warn(const std::string& line) { all.push_back({Verdict::kWarning, line}); }
  void Fault(const std::string& line) { all.push_back({Verdict::kFault, line}); }
  std::vector<Finding> all;
};

void CheckSettings(const Env& env, Findings& found) {
  SettingAdmin admin(*env.registry);
  bool clean = true;
  for (const SettingInfo& setting : KnownSettings()) {
    const SettingLine line = admin.Look(setting);
    if (line.trouble.empty()) continue;
    found.Fault(std::string("setting ") + setting.name + " = " + line.shown + ": " + line.trouble);
    clean = false;
  }
  if (clean) found.Ok("every setting is stored with its type and in range");
}

std::vector<PrinterRow> CheckPrinters(const Env& env, Findings& found) {
  PelkoKey key(*env.registry);
  auto running = key.Get("AppIsRunning");
  if (!running || running->Number() != 1u) {
    found.Fault("AppIsRunning is not 1: accounting is off (pelkoctl set AppIsRunning 1)");
  }
  std::vector<PrinterRow> rows;
  PrinterAdmin admin(env);
  Outcome listed = admin.List(&rows);
  if (!listed.ok()) {
    found.Fault("printers: " + listed.problem);
    return {};
  }
  if (rows.empty()) found.Fault("no printer is configured: pelkoctl add NAME --cost N");
  for (const PrinterRow& row : rows) {
    const std::string which = "printer " + std::to_string(row.slot) + " '" + row.name + "'";
    switch (row.queue) {
      case QueueState::kPresent: found.Ok(which + ": the spooler has the queue"); break;
      case QueueState::kMissing:
        found.Fault(which + ": the spooler has no such queue; its jobs are not accounted");
        break;
      case QueueState::kSpoolerDown:
        found.Fault(which + ": the spooler does not answer; nothing is accounted while it is down");
        break;
    }
  }
  return rows;
}

// Prices the agent would misread, and colour pages billed at the mono
// price where nobody said they should be.
void CheckPrices(HostProbe* probe, const std::vector<PrinterRow>& rows, Findings& found) {
  for (const PrinterRow& row : rows) {
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
      found.Warn(which + "its two-sided discount is " +
                 std::to_string(*stored.duplexDiscount->Number()) +
                 "%, taken as 100%: two-sided pages are free" + mend + "--duplex-discount PCT)");
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
    if (!stored.colorCost && probe != nullptr && probe->QueuePrintsColor(row.name) == true) {
      found.Warn(which + "the printer prints colour but has no colour price: colour pages cost " +
                 std::to_string(row.cost) + ", the mono price" + mend +
                 "--color-cost N; N the same as the mono price says so on purpose)");
    }
  }
}

// The folder, then whether the service can write in it; false when missing.
bool CheckFolder(const Env& env, HostProbe* probe, const std::string& what,
                 const std::string& folder, Findings& found) {
  if (!env.files->OpenFolder(folder)) {
    found.Fault(what + " " + folder + ": the folder is missing");
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

std::string CheckPath(const Env& env, HostProbe* probe, Findings& found) {
  PelkoKey key(*env.registry);
  auto path = key.Get("Path");
  const std::string folder = path && path->Text() ? *path->Text() : "";
  if (folder.empty()) {
    found.Fault("Path is not set: no log can be written (pelkoctl set Path FOLDER)");
    return "";
  }
  if (!CheckFolder(env, probe, "Path", folder, found)) return folder;
  const std::string logs = LogsFolder(folder, env.files->Separator());
  if (!CheckFolder(env, probe, "Logs folder", logs, found) || probe == nullptr) return folder;
  // A site's choice, and a safe one as far as it goes: say how far.
  const std::string others = probe->OthersWhoMayWrite(logs);
  if (!others.empty()) {
    found.Warn("Logs folder " + logs + ": " + others +
               " may write it, and so delete or rename any log or pending pages (that day's "
               "entries are then gone) or make the agent set what they put there aside; they "
               "cannot change a log, have their own files gathered, or move the record of "
               "which jobs were billed (docs/logs.md)");
  }
  return folder;
}

void CheckMail(const Env& env, const std::string& folder, Findings& found) {
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
      found.Fault("mail program " + program + " would be refused: " + vetted.reason);
    } else {
      found.Fault("mail program " + program + " cannot be started: " + vetted.reason);
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
    found.Fault("mail settings incomplete: " + missing + " not set; no mail can be sent");
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
    found.Warn("neither EmailAlertFreq nor EmailAlertTime is set: the report is mailed every minute");
  }
  if (missing.empty()) found.Ok("mail settings complete");
}

// Logs a database driver writes because the connection string asks: files
// of the driver's own, beyond the agent's care, in its log folder (/tmp
// unless set otherwise).
void CheckDatabaseLogs(const Env& env, HostProbe* probe, Findings& found) {
  auto connection = PelkoKey(*env.registry).Get("DatabaseConnection");
  const std::string text = connection && connection->Text() ? *connection->Text() : "";
  if (text.empty()) return;
  for (const std::string& attribute : DriverLogAttributes(text)) {
    found.Warn("DatabaseConnection sets " + attribute +
               ": the ODBC driver logs every connection of the agent, pelkodb, pelkoreport "
               "and the mail program to files of its own (psqlODBC: psqlodbc_*.log, "
               "mylog_*.log in /tmp), with the database password, every statement and the "
               "rows sent (user names, titles); remove it once done (docs/database.md)");
  }
  if (probe == nullptr) return;
  for (const std::string& warning : probe->DriverManagerLogWarnings()) found.Warn(warning);
}

}  // namespace

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

// Pages a printer's thread holds on disk because it could not write its
// daily log: they are billed once it can, but not yet.
void CheckPending(const Env& env, const std::vector<std::string>& queues, Findings& found) {
  for (const std::string& queue : queues) {
    std::string text;
    if (env.files->ReadText(PendingPagesPath(env, queue), &text) != FileStatus::kOk) continue;
    const std::vector<JobRecord> jobs = DecodePendingPages(text, queue);
    if (jobs.empty()) continue;
    int32_t pages = 0;
    for (const JobRecord& job : jobs) pages += job.pages;
    found.Warn("printer '" + queue + "': " + std::to_string(jobs.size()) + " job(s), " +
               std::to_string(pages) +
               " page(s) held pending, not yet in its daily log (entered once the log can be "
               "written)");
  }
}

std::vector<Finding> CheckAll(const Env& env, HostProbe* probe) {
  Findings found;
  CheckSettings(env, found);
  const std::vector<PrinterRow> rows = CheckPrinters(env, found);
  CheckPrices(probe, rows, found);
  std::vector<std::string> queues;
  for (const PrinterRow& row : rows) queues.push_back(row.name);
  const std::string folder = CheckPath(env, probe, found);
  if (!folder.empty()) CheckPending(env, queues, found);
  CheckMail(env, folder, found);
  if (auto lastMail = LastMailFinding(*env.registry)) found.all.push_back(*lastMail);
  CheckDatabaseLogs(env, probe, found);
  if (probe != nullptr) {
    const std::string why = probe->AgentNotRunning();
    if (why.empty()) {
      found.Ok("the agent is running");
    } else {
      found.Fault("the agent is not running: " + why);
    }
    for (const std::string& warning : probe->SpoolerRuleWarnings(queues)) found.Warn(warning);
    // What the agent said lately (pages it holds pending, logs it could not
    // write): the past, so it does not fail the check by itself.
    for (const std::string& line : LastOfEachKind(probe->RecentAgentLines(), 10)) {
      found.all.push_back({Verdict::kNote, "the agent said " + line});
    }
  }
  return found.all;
}

int RunCheck(const Env& env, HostProbe* probe, std::ostream& out) {
  int faults = 0;
  int warnings = 0;
  for (const Finding& finding : CheckAll(env, probe)) {
    switch (finding.verdict) {
      case Verdict::kOk: out << "ok     "; break;
      case Verdict::kNote: out << "note   "; break;
      case Verdict::kWarning: out << "WARN   "; ++warnings; break;
      case Verdict::kFault: out << "FAULT  "; ++faults; break;
    }
    out << finding.line << '\n';
  }
  if (faults == 0 && warnings == 0) {
    out << "all is well\n";
    return 0;
  }
  out << faults << " fault(s), " << warnings << " warning(s)\n";
  return 1;
}

}  // namespace pelko::ctl
