// The message that carries a report: its header lines, the plain-text and
// HTML bodies (lines ended by CR LF; windows-1252 for a log, UTF-8 for the
// database's report) and the name under which the file is attached.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "report/report.h"
#include "sendrik/mail_settings.h"

namespace pelko::mail {

struct MailMessage {
  std::vector<std::string> headers;  // "Subject: ..." and the like, without line ends
  std::string text;
  std::string html;
  std::string attachmentName;
  std::string charset = "windows-1252";  // of both bodies
  std::string attachmentType = "application/xml";
};

// "[prefix ]Print report 2026/12/07: total 1 234".
std::string SubjectLine(std::string_view prefix, const report::Report& report);

// Header text as it may stand in a header: control bytes dropped, and
// bytes above 0x7F as one RFC 2047 encoded word (windows-1252) each run.
std::string HeaderText(std::string_view text);

// "Mon, 07 Dec 2026 18:30:00 +0100": the local time and its offset.
std::string MailDate(std::time_t when);

// The To addresses as one header value: "a@x, b@y".
std::string Recipients(const MailSettings& settings);

// The header lines of a message: date, sender, recipients, subject, an id.
std::vector<std::string> MessageHeaders(const MailSettings& settings, std::string_view subject,
                                        std::time_t now);

// text with every line ended by CR LF.
std::string WithCrLf(std::string_view text);

MailMessage BuildMessage(const MailSettings& settings, const report::Report& report,
                         std::string_view logPath, std::time_t now);

}  // namespace pelko::mail
