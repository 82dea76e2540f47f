#include "agent/config/setting_table.h"

#include <charconv>

#include "agent/config/cost_unit.h"
#include "agent/config/registry_value.h"
#include "agent/config/report_period.h"
#include "agent/config/settings.h"
#include "agent/util/coding.h"

namespace pelko {

namespace {

constexpr uint32_t kAnyNumber = 0xffffffffu;

bool IsHostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == ':' || c == '[' || c == ']';
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string CheckTimeOfDay(std::string_view text) {
  int minutes = 0;
  if (text.empty() || ParseTimeOfDay(text, &minutes)) return "";
  return Quoted(text) + " is no time of day HH:MM (00:00 to 23:59)";
}

std::string CheckReportPeriod(std::string_view text) {
  if (text.empty() || IsReportPeriod(text)) return "";
  return Quoted(text) + " is no period (" + kReportPeriodNames + ")";
}

std::string CheckCostUnit(std::string_view text) {
  CostUnit unit;
  return ParseCostUnit(text, &unit);
}

std::string CheckHost(std::string_view text) {
  for (char c : text) {
    if (!IsHostByte(c))
      return Quoted(text) + " is no host name (letters, digits, '-', '.', an optional :port)";
  }
  return "";
}

std::string CheckFullPath(std::string_view text) {
  const bool absolute = text.empty() || text[0] == '/' || text[0] == '\\' ||
                        (text.size() > 2 && text[1] == ':' && (text[2] == '\\' || text[2] == '/'));
  if (absolute) return "";
  return Quoted(text) + " is not a full path: the agent does not run in the folder you are in";
}

// The connection string is readable by more than the administrators (the
// registry key on Windows): the password has a sealed value of its own.
std::string CheckConnection(std::string_view text) {
  const std::string lowered = AsciiLowered(std::string(text));
  for (const char* key : {"pwd=", "password="}) {
    const std::size_t at = lowered.find(key);
    if (at != std::string::npos && (at == 0 || lowered[at - 1] == ';' || lowered[at - 1] == ' ')) {
      return "the connection string holds a password: leave it out and give it with pelkodb "
             "--set-password";
    }
  }
  return "";
}

// The database's server column holds kServerNameChars characters; a longer
// name would be cut, and two servers could then share one.
constexpr std::size_t kServerNameChars = 64;

std::string CheckServerName(std::string_view text) {
  std::size_t characters = 0;
  for (unsigned char c : text) characters += (c & 0xc0) != 0x80;
  if (characters <= kServerNameChars) return "";
  return "a server name holds at most " + std::to_string(kServerNameChars) + " characters";
}

std::string RejectText(const SettingInfo& setting, std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return "control bytes cannot stand in a setting";
  }
  return setting.check != nullptr ? setting.check(text) : "";
}

}  // namespace

const std::vector<SettingInfo>& KnownSettings() {
  using K = SettingKind;
  using O = SettingOwner;
  static const std::vector<SettingInfo> table = {
      {"Path", K::kText, 0, 0, O::kAdministrator,
       "folder under which the logs folder Logs and the mail program lie (the agent does not "
       "create it)",
       CheckFullPath},
      {"AppIsRunning", K::kNumber, 0, 1, O::kAdministrator, "1: account printing"},
      {"nPrinters", K::kNumber, 0, kMaxPrinters, O::kPrinterCommands,
       "how many printers are configured, Printer1 to PrinterN"},
      {"IsModified", K::kNumber, 0, 1, O::kPrinterCommands,
       "1 after changing printers by hand: they restart with the new names; the agent resets it"},
      {"EmailAlert", K::kNumber, 0, 1, O::kAdministrator,
       "1: every EmailAlertFreq minutes build the global log and start the mail program from Path"},
      {"EmailAlertFreq", K::kNumber, 1, 71582, O::kAdministrator, "minutes between two mailings"},
      {"EmailAlertTime", K::kText, 0, 0, O::kAdministrator,
       "HH:MM: mail once a day at this local time instead", CheckTimeOfDay},
      {"EmailReportPeriod", K::kText, 0, 0, O::kAdministrator,
       "today, yesterday, this-month or last-month: mail the database's site-wide report of it "
       "instead",
       CheckReportPeriod},
      {"SiteReportAway", K::kNumber, 0, 1, O::kAgent,
       "1 while the mail program finds the database away (said once)"},
      {"StylesheetHost", K::kText, 0, 0, O::kAdministrator,
       "web server the mailed global log takes Tavisk.xsl from; empty: the build's own", CheckHost},
      {"ToSendFile", K::kText, 0, 0, O::kAgent, "the file last handed to the mail program"},
      {"CostUnit", K::kText, 0, 0, O::kAdministrator,
       "UNIT/DECIMALS, e.g. EUR/2: costs kept in cents, shown as 13.11 EUR", CheckCostUnit},
      {"DeleteOldLogs", K::kNumber, 0, 1, O::kAdministrator,
       "1: delete log files older than DeleteLogsDays days, every six hours"},
      {"DeleteLogsDays", K::kNumber, 1, 36500, O::kAdministrator,
       "age in days at which logs are deleted"},
      {"MailServer", K::kText, 0, 0, O::kAdministrator, "SMTP server"},
      {"MailPort", K::kNumber, 1, 65535, O::kAdministrator,
       "its port; absent: 25, or 465 with MailSecurity 2"},
      {"MailSecurity", K::kNumber, 0, 3, O::kAdministrator,
       "0 no encryption, 1 STARTTLS required (absent: 1), 2 TLS, 3 STARTTLS where the server "
       "offers it"},
      {"MailUser", K::kText, 0, 0, O::kAdministrator, "login; empty for none"},
      {"MailPassword", K::kText, 0, 0, O::kPasswordCommand, "the mail server's password, sealed",
       nullptr, "sendrik /setpassword"},
      {"MailFrom", K::kText, 0, 0, O::kAdministrator, "sender's address"},
      {"MailTo", K::kText, 0, 0, O::kAdministrator, "recipients, separated by ';'"},
      {"MailSubject", K::kText, 0, 0, O::kAdministrator, "text put in front of the subject"},
      {"MailCaFile", K::kText, 0, 0, O::kAdministrator, "PEM file of a private CA"},
      {"MailTimeout", K::kNumber, 1, 3600, O::kAdministrator,
       "seconds to wait for the server at each step; absent: 60"},
      {"LogJobDetails", K::kNumber, 0, 1, O::kAdministrator,
       "1: each job's copies, colour and mono pages, sides, paper and client in its log entry; 0 "
       "or absent: the entries as always"},
      {"LogUtf8", K::kNumber, 0, 1, O::kAdministrator,
       "1: logs begun from now on declare UTF-8 and hold names whole in every script; 0: "
       "ISO-8859-1, names in windows-1252"},
      {"ColorThreshold", K::kNumber, 0, 10000, O::kAdministrator,
       "colour a page must show, in hundredths of a percent of the page, to count as a colour "
       "page; absent: 50"},
      {"DatabaseConnection", K::kText, 0, 0, O::kAdministrator,
       "ODBC connection string or DSN=... of the central database, without the password; empty: "
       "none",
       CheckConnection},
      {"DatabasePassword", K::kText, 0, 0, O::kPasswordCommand,
       "the central database's password, sealed", nullptr, "pelkodb --set-password"},
      {"ServerName", K::kText, 0, 0, O::kAdministrator,
       "the name this computer's jobs carry in the central database; empty: the computer's name",
       CheckServerName},
      {"LastMailResult", K::kNumber, 0, 0, O::kAgent,
       "the mail program's last outcome: 0 sent, else the event it reported"},
      {"LastMailError", K::kText, 0, 0, O::kAgent,
       "the mail program's last error, empty after a sending"},
      {"LastMailTime", K::kText, 0, 0, O::kAgent, "when the mail program last tried"},
      {"AcceptedWarnings", K::kText, 0, 0, O::kAdministrator,
       "kinds of pelkoctl check's warnings the site accepts, separated by ',' "
       "(raw-jobs,owner-names): shown, not failing the check"},
  };
  return table;
}

const SettingInfo* FindSetting(std::string_view name) {
  for (const SettingInfo& setting : KnownSettings()) {
    if (AsciiEqualFold(setting.name, name)) return &setting;
  }
  return nullptr;
}

uint32_t StoredType(SettingKind kind) { return kind == SettingKind::kNumber ? kRegDword : kRegSz; }

std::string RejectValue(const SettingInfo& setting, std::string_view text, uint32_t* number) {
  if (setting.kind == SettingKind::kText) return RejectText(setting, text);
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value, 10);
  if (text.empty() || error != std::errc() || at != end) {
    return "'" + std::string(text) + "' is not a decimal number";
  }
  const uint32_t top = setting.maximum == 0 ? kAnyNumber : setting.maximum;
  if (value < setting.minimum || value > top) {
    return std::string(text) + " is out of range (" + std::to_string(setting.minimum) + " to " +
           std::to_string(top) + ")";
  }
  if (number != nullptr) *number = static_cast<uint32_t>(value);
  return "";
}

namespace {

// Empty when the stored type suits kind; else the line that says it.
std::string Mistyped(const std::string& name, SettingKind kind, uint32_t type,
                     const std::string& data, const char* readsAs) {
  const bool fits = kind == SettingKind::kNumber ? type == kRegDword && data.size() == 4
                                                 : type == kRegSz || type == kRegExpandSz;
  if (fits) return "";
  return "setting " + name + " is stored as " + RegTypeName(type) + " of " +
         std::to_string(data.size()) + " bytes; it must be a " + RegTypeName(StoredType(kind)) +
         ", and reads as " +
         (readsAs != nullptr             ? readsAs
          : kind == SettingKind::kNumber ? "0"
                                         : "empty") +
         " (pelkoctl check)";
}

}  // namespace

std::vector<std::string> MistypedSettings(Registry& registry) {
  std::vector<std::string> lines;
  RegKey key = nullptr;
  if (registry.OpenKey(RootKey::kLocalMachine, settings::kKey, kKeyRead, &key) != kErrorSuccess) {
    return lines;
  }
  KeyCloser closer(registry, key);
  auto look = [&](const std::string& name, SettingKind kind, std::string* number,
                  const char* readsAs = nullptr) {
    uint32_t type = kRegNone;
    std::string data;
    if (QueryValueBytes(registry, key, name, &type, &data) != kErrorSuccess) return;
    std::string line = Mistyped(name, kind, type, data, readsAs);
    if (!line.empty()) {
      lines.push_back(line);
    } else if (number != nullptr) {
      *number = data;
    }
  };
  std::string count;
  for (const SettingInfo& setting : KnownSettings()) {
    // The password is sealed as REG_BINARY on Windows: its own program checks it.
    if (setting.owner == SettingOwner::kPasswordCommand) continue;
    look(setting.name, setting.kind, std::string(setting.name) == "nPrinters" ? &count : nullptr);
  }
  const uint64_t printers = count.size() == 4 ? DecodeLittleEndian(count) : 0;
  for (uint64_t i = 1; i <= printers && i <= static_cast<uint64_t>(kMaxPrinters); ++i) {
    look("Printer" + std::to_string(i), SettingKind::kText, nullptr);
    look("Printer" + std::to_string(i) + "Cost", SettingKind::kNumber, nullptr);
    look("Printer" + std::to_string(i) + "ColorCost", SettingKind::kNumber, nullptr,
         "absent: colour pages cost the mono price");
    look("Printer" + std::to_string(i) + "DuplexDiscount", SettingKind::kNumber, nullptr);
    look("Printer" + std::to_string(i) + "PaperFactors", SettingKind::kText, nullptr);
  }
  return lines;
}

bool ParseTimeOfDay(std::string_view text, int* minutes) {
  auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
  if (text.size() != 5 || text[2] != ':' || !digit(0) || !digit(1) || !digit(3) || !digit(4)) {
    return false;
  }
  const int hour = (text[0] - '0') * 10 + (text[1] - '0');
  const int minute = (text[3] - '0') * 10 + (text[4] - '0');
  if (hour > 23 || minute > 59) return false;
  *minutes = hour * 60 + minute;
  return true;
}

}  // namespace pelko
