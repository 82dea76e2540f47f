#include "sendrik/mail_message.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "agent/logs/log_names.h"
#include "agent/util/coding.h"
#include "report/html.h"
#include "report/text.h"
#include "sendrik/local_time.h"

namespace pelko::mail {

namespace {

constexpr std::string_view kMoreNote = "The attached log lists them all.";

std::string Domain(const std::string& address) {
  const std::size_t at = address.find('@');
  return at == std::string::npos ? "localhost" : address.substr(at + 1);
}

}  // namespace

std::string SubjectLine(std::string_view prefix, const report::Report& report) {
  std::string subject(prefix);
  if (!subject.empty()) subject += ' ';
  subject += "Print report";
  if (!report.headDate.empty()) subject += " " + report.headDate;
  subject += ": total " + report::ShownCost(report, report.TotalCost());
  return subject;
}

std::string HeaderText(std::string_view text) {
  std::string plain;
  bool ascii = true;
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) continue;
    ascii = ascii && b < 0x80;
    plain += c;
  }
  if (ascii) return plain;
  // Encoded words of at most 75 characters, separated by spaces that
  // readers drop between two encoded words.
  std::string out, word;
  auto flush = [&] {
    if (word.empty()) return;
    if (!out.empty()) out += ' ';
    out += "=?windows-1252?Q?" + word + "?=";
    word.clear();
  };
  for (const char c : plain) {
    const unsigned char b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')) {
      word += c;
    } else if (b == ' ') {
      word += '_';
    } else {
      word += '=';
      AppendHexByte(&word, b, kHexUpper);
    }
    if (word.size() > 52) flush();
  }
  flush();
  return out;
}

std::string MailDate(std::time_t when) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::tm local = LocalCalendarTime(when);
  const std::chrono::year_month_day date{std::chrono::year{local.tm_year + 1900},
                                         std::chrono::month{unsigned(local.tm_mon + 1)},
                                         std::chrono::day{unsigned(local.tm_mday)}};
  const long long localSeconds = std::chrono::sys_days{date}.time_since_epoch().count() * 86400LL +
                                 local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
  const long long offset = (localSeconds - static_cast<long long>(when)) / 60;
  const long long magnitude = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d %c%02lld%02lld",
                kDays[local.tm_wday % 7], local.tm_mday, kMonths[local.tm_mon % 12],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

std::string Recipients(const MailSettings& settings) {
  std::string out;
  for (const std::string& to : settings.to) out += (out.empty() ? "" : ", ") + to;
  return out;
}

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 40);
  for (const char c : text) {
    if (c == '\n') out += '\r';
    if (c != '\r') out += c;
  }
  return out;
}

std::vector<std::string> MessageHeaders(const MailSettings& settings, std::string_view subject,
                                        std::time_t now) {
  std::random_device random;
  char id[96];
  std::snprintf(id, sizeof id, "%lld.%08x", static_cast<long long>(now), random());
  return {"Date: " + MailDate(now),
          "From: " + settings.from,
          "To: " + Recipients(settings),
          "Subject: " + HeaderText(subject),
          "Message-ID: <" + std::string(id) + ".sendrik@" + Domain(settings.from) + ">",
          "X-Mailer: Sendrik (Pelko)"};
}

MailMessage BuildMessage(const MailSettings& settings, const report::Report& report,
                         std::string_view logPath, std::time_t now) {
  MailMessage m;
  m.headers = MessageHeaders(settings, SubjectLine(settings.subjectPrefix, report), now);
  m.text = WithCrLf(report::ReportText(report, kMoreNote));
  m.html = WithCrLf(report::ReportHtmlIn(report, report.encoding, kMoreNote));
  if (report.encoding == report::TextEncoding::kUtf8) m.charset = "utf-8";
  m.attachmentName = std::string(BaseName(logPath, '\\'));
  return m;
}

}  // namespace pelko::mail
