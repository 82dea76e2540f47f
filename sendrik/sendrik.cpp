// sendrik: the mail program the agent starts, without arguments, after each
// build of the global log. It mails the file that ToSendFile names as a
// report (text and HTML) with the log attached, or, with EmailReportPeriod
// set, the central database's site-wide report for that period, says in Sendrik.log what it
// did, and exits 0 only when the server accepted the message. It never
// changes or deletes the log.
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "agent/config/mail_outcome.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/platform/files.h"
#include "agent/platform/logger.h"
#include "agent/platform/registry.h"
#include "agent/platform/sql.h"
#include "agent/util/coding.h"
#include "report/log_files.h"
#include "report/report.h"
#include "sendrik/console.h"
#include "sendrik/mail_message.h"
#include "sendrik/mail_settings.h"
#include "sendrik/local_time.h"
#include "sendrik/sendrik_log.h"
#include "sendrik/site_mail.h"
#include "sendrik/smtp_send.h"

namespace pelko::mail {
namespace {

// A larger log would make a message that few servers take, and the agent
// holds no larger one in a month of busy printers.
constexpr uint64_t kLargestLog = 128ull << 20;

constexpr int kSent = 0;
constexpr int kNotSent = 1;        // the server, the network or TLS
constexpr int kNothingToSend = 2;  // settings or the file

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string LogFolder(const MailSettings& s) {
  if (!s.path.empty()) return LogsFolder(s.path, kSeparator);
  const std::size_t at = s.toSendFile.find_last_of("/\\");
  return at == std::string::npos ? "" : s.toSendFile.substr(0, at);
}

// What the agent writes: the prolog, a head, and "</log>" at the very end.
bool IsCompleteLog(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  return text.rfind("<?xml", 0) == 0 && text.find("<log>") != std::string::npos &&
         std::string_view(text).substr(0, end).ends_with(kLogFooter) &&
         text.find('\0') == std::string::npos;
}

LocalTime LocalNow(std::time_t now) {
  const std::tm t = LocalCalendarTime(now);
  return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, 0};
}

std::string Took(std::chrono::steady_clock::time_point start) {
  char took[32];
  std::snprintf(took, sizeof took, "%.1f s",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return took;
}

// Why a run sent nothing, for the system's log and pelkoctl check.
struct Failure {
  EventKind kind = EventKind::kMailNothingToSend;
  std::string why;
};

int NotSent(SendrikLog& log, Failure* failure, EventKind kind, const std::string& why) {
  log.Write("not sent: " + why);
  *failure = {kind, why};
  return kind == EventKind::kMailNothingToSend ? kNothingToSend : kNotSent;
}

int NothingToSend(SendrikLog& log, Failure* failure, const std::string& why) {
  return NotSent(log, failure, EventKind::kMailNothingToSend, why);
}

// A report's mail, its page attached; what says which report it was.
int SendReport(const MailSettings& settings, const MailMessage& message,
               const report::Report& report, const std::string& what, SendrikLog& log,
               Failure* failure) {
  const std::string page = ReportPage(report);
  const auto start = std::chrono::steady_clock::now();
  const SendResult result = SendMail(settings, message, page);
  if (!result.sent) {
    return NotSent(log, failure, result.kind,
                   message.attachmentName + " to " + Recipients(settings) + " via " +
                       ServerText(settings) + ": " + result.failure);
  }
  log.Write("sent " + message.attachmentName + " (" + what + ", " + std::to_string(report.jobs) +
            " jobs, total " + std::to_string(report.TotalCost()) + ") to " + Recipients(settings) +
            " via " + ServerText(settings) + " in " + Took(start));
  return kSent;
}

// The site report when one is asked for and the database gives it; else
// this computer's report of the same period, or where there is none to be
// had -1 with the note that the global log goes in its place.
int TrySiteReport(const MailSettings& settings, const SiteSettings& site, SendrikLog& log,
                  std::string* fallbackNote, Failure* failure) {
  const SiteChoice choice = ReadSiteChoice(PlatformSql(), site, LocalNow(std::time(nullptr)));
  if (choice.read) {
    MarkDatabaseAway(PlatformRegistry(), false);
    return SendReport(settings,
                      BuildSiteMessage(settings, site.period, choice.report, std::time(nullptr)),
                      choice.report,
                      "site report " + site.period + ", " +
                          std::to_string(choice.report.servers.size()) + " servers",
                      log, failure);
  }
  report::Report local;
  std::string unread;
  const bool ownReport =
      !choice.range.from.empty() && ReadLocalReport(PlatformFileSystem(), LogFolder(settings),
                                                    choice.range, site.costUnit, &local, &unread);
  log.Write("site report " + site.period + " not made: " + choice.trouble + "; " +
            (ownReport ? "this computer's report of the period" : "the global log") +
            " is sent in its place" + (unread.empty() ? "" : " (" + unread + ")"));
  // Said once in the system's log however many mailings fall back.
  if (MarkDatabaseAway(PlatformRegistry(), true)) {
    PlatformLogger().Write(Severity::kWarning, EventKind::kSiteReportFallback,
                           "Sendrik: the site report (EmailReportPeriod " + site.period +
                               ") cannot be made: " + choice.trouble +
                               "; each mail carries this computer's own figures instead, "
                               "and says so, until the database answers");
  }
  if (ownReport) {
    return SendReport(
        settings,
        BuildFallbackMessage(settings, site.period, choice.trouble, local, std::time(nullptr)),
        local, "this computer's report " + site.period + ", in place of the site report", log,
        failure);
  }
  *fallbackNote = FallbackNote(site.period, choice.trouble);
  return -1;
}

int Run(Failure* failure) {
  std::vector<std::string> problems, notes;
  const MailSettings settings = ReadMailSettings(PlatformRegistry(), &problems, &notes);
  SendrikLog log(LogFolder(settings), [](const std::string& why) {
    PlatformLogger().Write(Severity::kWarning, EventKind::kMailLogRefused, why);
  });
  for (const std::string& note : notes) log.Write("note: " + note);
  std::string fallbackNote;
  const SiteSettings site = ReadSiteSettings(PlatformRegistry());
  if (!site.period.empty() && problems.empty()) {
    const int status = TrySiteReport(settings, site, log, &fallbackNote, failure);
    if (status >= 0) return status;
  }
  if (settings.toSendFile.empty()) {
    return NothingToSend(log, failure,
                         "ToSendFile (REG_SZ) is not set, so there is no file to send");
  }
  const std::string name(BaseName(settings.toSendFile, '\\'));
  std::string text;
  switch (report::ReadFileBytes(settings.toSendFile, kLargestLog, &text)) {
    case report::ReadStatus::kOk:
      break;
    case report::ReadStatus::kMissing:
      return NothingToSend(log, failure,
                           "ToSendFile names " + settings.toSendFile + ", which is not there");
    case report::ReadStatus::kTooLarge:
      return NothingToSend(
          log, failure,
          settings.toSendFile + " is larger than " + std::to_string(kLargestLog >> 20) + " MiB");
    case report::ReadStatus::kFailed:
      return NothingToSend(log, failure, settings.toSendFile + " cannot be read");
    case report::ReadStatus::kNotRegular:
      return NothingToSend(log, failure, settings.toSendFile + " is not a regular file");
  }
  if (!IsCompleteLog(text)) {
    return NothingToSend(
        log, failure, settings.toSendFile + " is not a complete log file (damaged or cut short)");
  }
  int status = kSent;
  for (const std::string& problem : problems) status = NothingToSend(log, failure, problem);
  if (status != kSent) return status;

  report::ReportBuilder builder;
  // The names as the global log declares them: UTF-8 under LogUtf8.
  builder.Describe(
      "", "", DeclaresUtf8(text) ? report::TextEncoding::kUtf8 : report::TextEncoding::kWindows1252,
      site.costUnit);
  builder.AddLog(text);
  const report::Report report = builder.Finish();
  MailMessage message = BuildMessage(settings, report, settings.toSendFile, std::time(nullptr));
  if (!fallbackNote.empty()) MarkAsFallback(message, fallbackNote);
  const auto start = std::chrono::steady_clock::now();
  const SendResult result = SendMail(settings, message, text);
  if (!result.sent) {
    return NotSent(log, failure, result.kind,
                   name + " to " + Recipients(settings) + " via " + ServerText(settings) + ": " +
                       result.failure);
  }
  log.Write("sent " + name + " (" + std::to_string(report.jobs) + " jobs, total " +
            std::to_string(report.TotalCost()) +
            (fallbackNote.empty() ? "" : ", in place of the site report") + ") to " +
            Recipients(settings) + " via " + ServerText(settings) +
            (settings.user.empty() ? "" : " as " + settings.user) + " in " + Took(start));
  return kSent;
}

// Said in the system's log once for each kind of failure in a row, and once
// when mail goes again; kept for pelkoctl check whatever it was.
void RecordOutcome(int status, const Failure& failure) {
  char time[32] = "";
  const std::tm now = LocalCalendarTime(std::time(nullptr));
  std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &now);
  const bool sent = status == kSent;
  const MailOutcome outcome{sent ? 0u : EventId(failure.kind), sent ? "" : failure.why, time};
  if (!RecordMailOutcome(PlatformRegistry(), outcome)) return;
  if (sent) {
    PlatformLogger().Write(Severity::kInfo, EventKind::kMailWorksAgain,
                           "Sendrik: mail is sent again");
  } else {
    PlatformLogger().Write(
        Severity::kError, failure.kind,
        "Sendrik: mail not sent: " + failure.why + "; " + MailFailureFix(outcome.result));
  }
}

constexpr char kUsage[] =
    "Usage: Sendrik.exe               mail the global log named in ToSendFile (as the agent\n"
    "                                 does), or with EmailReportPeriod the database's site report\n"
    "       Sendrik.exe /SetPassword  keep the mail password as MailPassword: typed in a\n"
    "                                 console window of its own, not shown, or one line of\n"
    "                                 standard input when that is a pipe; never on the command\n"
    "                                 line\n"
    "       Sendrik.exe --version     the version\n"
    "Switches may be written /x, -x or --x, in any case.\n";

int SetPassword() {
  std::string password, error;
  if (!ReadTypedPassword(&password, &error)) {
    TellCaller("sendrik: MailPassword not set: " + error);
    return 2;
  }
  if (!StoreMailPassword(PlatformRegistry(), password, &error)) {
    TellCaller("sendrik: MailPassword not set: " + error);
    return 1;
  }
  TellCaller(password.empty() ? "sendrik: MailPassword set (empty)" : "sendrik: MailPassword set");
  return 0;
}

// "/SetPassword", "-setpassword", "--set-password": Windows and Linux ways alike.
bool IsSwitch(const char* argument, std::initializer_list<std::string_view> names) {
  std::string_view text(argument);
  if (text.starts_with("--")) {
    text.remove_prefix(2);
  } else if (text.starts_with('/') || text.starts_with('-')) {
    text.remove_prefix(1);
  } else {
    return false;
  }
  for (std::string_view name : names) {
    if (AsciiEqualFold(text, name)) return true;
  }
  return false;
}

}  // namespace

int Main(int argc, char** argv) {
  KeepDriverFilesPrivate();
  if (argc == 2 && IsSwitch(argv[1], {"setpassword", "set-password"})) return SetPassword();
  ReachCaller();
  if (argc == 2 && IsSwitch(argv[1], {"version"})) {
    std::puts("Sendrik " PELKO_VERSION);
    return 0;
  }
  if (argc > 1) {
    const bool help = IsSwitch(argv[1], {"?", "h", "help"});
    if (!help) std::fprintf(stderr, "sendrik: unknown argument '%s'\n", argv[1]);
    std::fputs(kUsage, help ? stdout : stderr);
    return help ? 0 : 2;
  }
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fputs("sendrik: libcurl cannot start\n", stderr);
    return 1;
  }
  Failure failure;
  const int status = Run(&failure);
  curl_global_cleanup();
  RecordOutcome(status, failure);
  return status;
}

}  // namespace pelko::mail

#ifdef _WIN32
// A windowed program without a window: the agent starts it "shown", and
// nothing may appear.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return pelko::mail::Main(__argc, __argv); }
#else
int main(int argc, char** argv) { return pelko::mail::Main(argc, argv); }
#endif
