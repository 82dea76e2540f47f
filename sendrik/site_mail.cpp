#include "sendrik/site_mail.h"

#include "agent/config/registry_value.h"
#include "agent/config/report_period.h"
#include "agent/config/settings.h"
#include "report/html.h"

namespace pelko::mail {

namespace {

std::string Shown(const std::string& date) {
  return date.size() == 8 ? date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6)
                          : date;
}

// A driver's message on one line, without a closing full stop: it goes
// into a sentence of the mail.
std::string OneLine(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool blank = static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
    if (!blank) {
      out += c;
    } else if (!out.empty() && out.back() != ' ') {
      out += ' ';
    }
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
  return out;
}

}  // namespace

SiteSettings ReadSiteSettings(Registry& registry) {
  SiteSettings site;
  site.period = RegistryStringValue(registry, settings::kEmailReportPeriod).Read();
  site.connection = RegistryStringValue(registry, settings::kDatabaseConnection).Read();
  RegKey key = nullptr;
  if (registry.OpenKey(RootKey::kLocalMachine, settings::kKey, kKeyRead, &key) == kErrorSuccess) {
    if (QueryValueBytes(registry, key, settings::kDatabasePassword, &site.password.type,
                        &site.password.data) != kErrorSuccess) {
      site.password = SealedPassword{};
    }
    registry.CloseKey(key);
  }
  return site;
}

SiteChoice ReadSiteChoice(SqlConnector& sql, const SiteSettings& site, const LocalTime& now,
                          uint32_t timeoutSeconds) {
  SiteChoice choice;
  if (site.period.empty()) return choice;
  choice.wanted = true;
  LogDateRange range;
  if (!ReportPeriodDates(site.period, now, &range)) {
    choice.trouble = "EmailReportPeriod '" + site.period + "' is no period (" +
                     kReportPeriodNames + ")";
    return choice;
  }
  if (site.connection.empty()) {
    choice.trouble = "DatabaseConnection is not set";
    return choice;
  }
  std::string error;
  auto connection = sql.Connect(site.connection, site.password, timeoutSeconds, &error);
  if (!connection) {
    choice.trouble = "the database did not answer: " + OneLine(error);
    return choice;
  }
  if (!report::ReadSiteReport(*connection, range.from, range.to, &choice.report, &error)) {
    choice.report = report::SiteReport{};
    choice.trouble = "the database did not give the report: " + OneLine(error);
    return choice;
  }
  choice.read = true;
  return choice;
}

std::string SiteAttachmentName(const report::SiteReport& report) {
  return "SiteReport_" + report.from + "-" + report.to + ".html";
}

MailMessage BuildSiteMessage(const MailSettings& settings, const std::string& period,
                             const report::SiteReport& report, std::time_t now) {
  MailMessage m;
  std::string subject = settings.subjectPrefix;
  if (!subject.empty()) subject += ' ';
  subject += "Site print report " + Shown(report.from);
  if (report.to != report.from) subject += " to " + Shown(report.to);
  subject += ": total " + report::GroupThousands(report.total.cost);
  m.headers = MessageHeaders(settings, subject, now);
  m.text = WithCrLf(report::SiteReportText(report));
  m.html = WithCrLf(report::SiteReportHtml(report));
  m.attachmentName = SiteAttachmentName(report);
  m.attachmentType = "text/html";
  m.charset = "utf-8";
  PutNote(m, "Site-wide report (" + period + ") from the central database: " +
                 std::to_string(report.servers.size()) + " server" +
                 (report.servers.size() == 1 ? "" : "s") + ".");
  return m;
}

std::string FallbackNote(const std::string& period, const std::string& trouble) {
  return "The site-wide report (EmailReportPeriod " + period + ") could not be made: " + trouble +
         ". This is this computer's own global log instead; its totals are this computer's "
         "alone.";
}

void PutNote(MailMessage& message, const std::string& note) {
  message.text = WithCrLf(note + "\n\n") + message.text;
  std::string paragraph = "<p id=\"source\"><strong>";
  report::AppendEscaped(paragraph, note);
  paragraph += "</strong></p>\n";
  const std::size_t body = message.html.find("<body>");
  const std::size_t at = body == std::string::npos ? 0 : message.html.find('\n', body) + 1;
  message.html.insert(at, WithCrLf(paragraph));
}

void MarkAsFallback(MailMessage& message, const std::string& note) {
  PutNote(message, note);
  for (std::string& header : message.headers) {
    if (header.rfind("Subject: ", 0) == 0) header += " (this computer only)";
  }
}

bool MarkDatabaseAway(Registry& registry, bool away) {
  RegistryDwordValue mark(registry, settings::kSiteReportAway);
  const bool before = mark.Read() != 0;
  if (before != away) {
    mark.Set(away ? 1 : 0);
  }
  return away && !before;
}

}  // namespace pelko::mail
