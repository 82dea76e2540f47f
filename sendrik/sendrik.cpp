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
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/platform/files.h"
#include "agent/platform/logger.h"
#include "agent/platform/password_line.h"
#include "agent/platform/registry.h"
#include "agent/platform/sql.h"
#include "report/log_files.h"
#include "report/report.h"
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
constexpr int kNotSent = 1;     // the server, the network or TLS
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

// A report's mail, its page attached; what says which report it was.
int SendReport(const MailSettings& settings, const MailMessage& message,
               const report::Report& report, const std::string& what, SendrikLog& log) {
  const std::string page = ReportPage(report);
  const auto start = std::chrono::steady_clock::now();
  const SendResult result = SendMail(settings, message, page);
  if (!result.sent) {
    log.Write("not sent: " + message.attachmentName + " to " + Recipients(settings) + " via " +
              ServerText(settings) + ": " + result.failure);
    return kNotSent;
  }
  log.Write("sent " + message.attachmentName + " (" + what + ", " +
            std::to_string(report.jobs) + " jobs, total " +
            std::to_string(report.TotalCost()) + ") to " + Recipients(settings) + " via " +
            ServerText(settings) + " in " + Took(start));
  return kSent;
}

// The site report when one is asked for and the database gives it; else
// this computer's report of the same period, or where there is none to be
// had -1 with the note that the global log goes in its place.
int TrySiteReport(const MailSettings& settings, const SiteSettings& site, SendrikLog& log,
                  std::string* fallbackNote) {
  const SiteChoice choice = ReadSiteChoice(PlatformSql(), site, LocalNow(std::time(nullptr)));
  if (choice.read) {
    MarkDatabaseAway(PlatformRegistry(), false);
    return SendReport(settings, BuildSiteMessage(settings, site.period, choice.report, std::time(nullptr)),
                      choice.report,
                      "site report " + site.period + ", " +
                          std::to_string(choice.report.servers.size()) + " servers",
                      log);
  }
  report::Report local;
  std::string unread;
  const bool ownReport =
      !choice.range.from.empty() &&
      ReadLocalReport(PlatformFileSystem(), LogFolder(settings), choice.range, site.costUnit,
                      &local, &unread);
  log.Write("site report " + site.period + " not made: " + choice.trouble + "; " +
            (ownReport ? "this computer's report of the period" : "the global log") +
            " is sent in its place" + (unread.empty() ? "" : " (" + unread + ")"));
  // Said once in the system's log however many mailings fall back.
  if (MarkDatabaseAway(PlatformRegistry(), true)) {
    PlatformLogger().Write(Severity::kWarning,
                           "Sendrik: the site report (EmailReportPeriod " + site.period +
                               ") cannot be made: " + choice.trouble +
                               "; each mail carries this computer's own figures instead, "
                               "and says so, until the database answers");
  }
  if (ownReport) {
    return SendReport(settings,
                      BuildFallbackMessage(settings, site.period, choice.trouble, local,
                                           std::time(nullptr)),
                      local, "this computer's report " + site.period + ", in place of the site report",
                      log);
  }
  *fallbackNote = FallbackNote(site.period, choice.trouble);
  return -1;
}

int Run() {
  std::vector<std::string> problems, notes;
  const MailSettings settings = ReadMailSettings(PlatformRegistry(), &problems, &notes);
  SendrikLog log(LogFolder(settings), [](const std::string& why) {
    PlatformLogger().Write(Severity::kWarning, why);
  });
  for (const std::string& note : notes) log.Write("note: " + note);
  std::string fallbackNote;
  const SiteSettings site = ReadSiteSettings(PlatformRegistry());
  if (!site.period.empty() && problems.empty()) {
    const int status = TrySiteReport(settings, site, log, &fallbackNote);
    if (status >= 0) return status;
  }
  if (settings.toSendFile.empty()) {
    log.Write("not sent: ToSendFile (REG_SZ) is not set, so there is no file to send");
    return kNothingToSend;
  }
  const std::string name(BaseName(settings.toSendFile, '\\'));
  std::string text;
  switch (report::ReadFileBytes(settings.toSendFile, kLargestLog, &text)) {
    case report::ReadStatus::kOk: break;
    case report::ReadStatus::kMissing:
      log.Write("not sent: ToSendFile names " + settings.toSendFile + ", which is not there");
      return kNothingToSend;
    case report::ReadStatus::kTooLarge:
      log.Write("not sent: " + settings.toSendFile + " is larger than " +
                std::to_string(kLargestLog >> 20) + " MiB");
      return kNothingToSend;
    case report::ReadStatus::kFailed:
      log.Write("not sent: " + settings.toSendFile + " cannot be read");
      return kNothingToSend;
    case report::ReadStatus::kNotRegular:
      log.Write("not sent: " + settings.toSendFile + " is not a regular file");
      return kNothingToSend;
  }
  if (!IsCompleteLog(text)) {
    log.Write("not sent: " + settings.toSendFile +
              " is not a complete log file (damaged or cut short)");
    return kNothingToSend;
  }
  for (const std::string& problem : problems) log.Write("not sent: " + problem);
  if (!problems.empty()) return kNothingToSend;

  report::ReportBuilder builder;
  builder.Describe("", "", report::TextEncoding::kWindows1252, site.costUnit);
  builder.AddLog(text);
  const report::Report report = builder.Finish();
  MailMessage message = BuildMessage(settings, report, settings.toSendFile, std::time(nullptr));
  if (!fallbackNote.empty()) MarkAsFallback(message, fallbackNote);
  const auto start = std::chrono::steady_clock::now();
  const SendResult result = SendMail(settings, message, text);
  if (!result.sent) {
    log.Write("not sent: " + name + " to " + Recipients(settings) + " via " +
              ServerText(settings) + ": " + result.failure);
    return kNotSent;
  }
  log.Write("sent " + name + " (" + std::to_string(report.jobs) + " jobs, total " +
            std::to_string(report.TotalCost()) +
            (fallbackNote.empty() ? "" : ", in place of the site report") +
            ") to " + Recipients(settings) + " via " + ServerText(settings) +
            (settings.user.empty() ? "" : " as " + settings.user) + " in " + Took(start));
  return kSent;
}

constexpr char kUsage[] =
    "Usage: sendrik               mail the global log named in ToSendFile (as the agent does),\n"
    "                             or with EmailReportPeriod the database's site report\n"
    "       sendrik /setpassword  read the mail password from standard input and keep it\n"
    "                             as MailPassword (one line; nothing on the command line)\n";

int SetPassword() {
  std::string password, error;
  if (!ReadPasswordLine("Mail password: ", &password)) {
    std::fputs("sendrik: the password is longer than 1024 bytes\n", stderr);
    return 2;
  }
  if (!StoreMailPassword(PlatformRegistry(), password, &error)) {
    std::fprintf(stderr, "sendrik: MailPassword not set: %s\n", error.c_str());
    return 1;
  }
  std::fputs(password.empty() ? "sendrik: MailPassword set (empty)\n" : "sendrik: MailPassword set\n",
             stderr);
  return 0;
}

}  // namespace

int Main(int argc, char** argv) {
  KeepDriverFilesPrivate();
  if (argc == 2 && (!std::strcmp(argv[1], "/setpassword") || !std::strcmp(argv[1], "--set-password"))) {
    return SetPassword();
  }
  if (argc > 1) {
    const bool help = !std::strcmp(argv[1], "/?") || !std::strcmp(argv[1], "--help");
    if (!help) std::fprintf(stderr, "sendrik: unknown argument '%s'\n", argv[1]);
    std::fputs(kUsage, help ? stdout : stderr);
    return help ? 0 : 2;
  }
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fputs("sendrik: libcurl cannot start\n", stderr);
    return 1;
  }
  const int status = Run();
  curl_global_cleanup();
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
