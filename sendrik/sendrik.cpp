// sendrik: the mail program the agent starts, without arguments, after each
// build of the global log. It mails the file that ToSendFile names as a
// report (text and HTML) with the log attached, says in Sendrik.log what it
// did, and exits 0 only when the server accepted the message. It never
// changes or deletes the log.
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "agent/platform/registry.h"
#include "report/log_files.h"
#include "report/report.h"
#include "sendrik/mail_message.h"
#include "sendrik/mail_settings.h"
#include "sendrik/sendrik_log.h"
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
  if (!s.path.empty()) return s.path + kSeparator + "Logs";
  const std::size_t at = s.toSendFile.find_last_of("/\\");
  return at == std::string::npos ? "" : s.toSendFile.substr(0, at);
}

// What the agent writes: the prolog, a head, and "</log>" at the very end.
bool IsCompleteLog(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  return text.rfind("<?xml", 0) == 0 && text.find("<log>") != std::string::npos &&
         end >= 6 && text.compare(end - 6, 6, "</log>") == 0 &&
         text.find('\0') == std::string::npos;
}

std::string Recipients(const MailSettings& s) {
  std::string out;
  for (const std::string& to : s.to) out += (out.empty() ? "" : ", ") + to;
  return out;
}

int Run() {
  std::vector<std::string> problems, notes;
  const MailSettings settings = ReadMailSettings(PlatformRegistry(), &problems, &notes);
  SendrikLog log(LogFolder(settings));
  for (const std::string& note : notes) log.Write("note: " + note);
  if (settings.toSendFile.empty()) {
    log.Write("not sent: ToSendFile (REG_SZ) is not set, so there is no file to send");
    return kNothingToSend;
  }
  const std::string name = BaseName(settings.toSendFile);
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
  }
  if (!IsCompleteLog(text)) {
    log.Write("not sent: " + settings.toSendFile +
              " is not a complete log file (damaged or cut short)");
    return kNothingToSend;
  }
  for (const std::string& problem : problems) log.Write("not sent: " + problem);
  if (!problems.empty()) return kNothingToSend;

  report::ReportBuilder builder;
  builder.AddLog(text);
  const report::Report report = builder.Finish();
  const MailMessage message = BuildMessage(settings, report, settings.toSendFile, std::time(nullptr));
  const auto start = std::chrono::steady_clock::now();
  const SendResult result = SendMail(settings, message, text);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char took[32];
  std::snprintf(took, sizeof took, "%.1f s", seconds);
  if (!result.sent) {
    log.Write("not sent: " + name + " to " + Recipients(settings) + " via " +
              ServerText(settings) + ": " + result.failure);
    return kNotSent;
  }
  log.Write("sent " + name + " (" + std::to_string(report.jobs) + " jobs, total " +
            std::to_string(report.TotalCost()) + ") to " + Recipients(settings) + " via " +
            ServerText(settings) + (settings.user.empty() ? "" : " as " + settings.user) +
            " in " + took);
  return kSent;
}

}  // namespace
}  // namespace pelko::mail

int main() {
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fputs("sendrik: libcurl cannot start\n", stderr);
    return 1;
  }
  const int status = pelko::mail::Run();
  curl_global_cleanup();
  return status;
}
