#include "sendrik/site_mail.h"

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "report/html.h"
#include "report/log_files.h"
#include "report/text.h"

namespace pelko::mail {

namespace {

// A larger daily log is none the agent writes.
constexpr uint64_t kLargestDailyLog = 128ull << 20;

// "2026-11-01 to 2026-11-30", or one date.
std::string Dates(const report::Report& report) {
  std::string out = report::ShownDate(report.from);
  if (report.to != report.from) out += " to " + report::ShownDate(report.to);
  return out;
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
  site.costUnit = ReadCostUnit(registry);
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
  LogDateRange& range = choice.range;
  if (!ReportPeriodDates(site.period, now, &range)) {
    range = LogDateRange{};
    choice.trouble =
        "EmailReportPeriod '" + site.period + "' is no period (" + kReportPeriodNames + ")";
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
  if (!report::ReadDatabaseReport(*connection, range.from, range.to, site.costUnit, &choice.report,
                                  &error)) {
    choice.report = report::Report{};
    choice.trouble = "the database did not give the report: " + OneLine(error);
    return choice;
  }
  choice.read = true;
  return choice;
}

std::string SiteAttachmentName(const report::Report& report) {
  return (report.site ? "SiteReport_" : "Report_") + report.from + "-" + report.to + ".html";
}

std::string ReportPage(const report::Report& report) {
  return report::ReportHtmlIn(report, report.encoding);
}

MailMessage BuildSiteMessage(const MailSettings& settings, const std::string& period,
                             const report::Report& report, std::time_t now) {
  MailMessage m;
  std::string subject = settings.subjectPrefix;
  if (!subject.empty()) subject += ' ';
  subject += (report.site ? "Site print report " : "Print report ") + Dates(report) + ": total " +
             report::ShownCost(report, report.TotalCost());
  m.headers = MessageHeaders(settings, subject, now);
  m.text = WithCrLf(report::ReportText(report));
  m.html = WithCrLf(ReportPage(report));
  m.attachmentName = SiteAttachmentName(report);
  m.attachmentType = "text/html";
  m.charset = report.encoding == report::TextEncoding::kUtf8 ? "utf-8" : "windows-1252";
  if (report.site) {
    PutNote(m, "Site-wide report (" + period +
                   ") from the central database: " + std::to_string(report.servers.size()) +
                   " server" + (report.servers.size() == 1 ? "" : "s") + ".");
  }
  return m;
}

bool ReadLocalReport(FileSystem& files, const std::string& logsFolder, const LogDateRange& range,
                     const CostUnit& costUnit, report::Report* out, std::string* trouble) {
  const std::vector<std::string> paths =
      report::DailyLogsIn(files, logsFolder, range.from, range.to);
  report::ReportBuilder builder;
  // As pelkoreport reads them: a log under LogUtf8 keeps its names whole.
  builder.Describe(range.from, range.to,
                   report::AnyDeclaresUtf8(paths) ? report::TextEncoding::kUtf8
                                                  : report::TextEncoding::kWindows1252,
                   costUnit);
  std::string text;
  for (const std::string& path : paths) {
    if (report::ReadFileBytes(path, kLargestDailyLog, &text) != report::ReadStatus::kOk ||
        !builder.AddLog(text)) {
      *trouble = path + " cannot be read";
      return false;
    }
  }
  *out = builder.Finish();
  return true;
}

MailMessage BuildFallbackMessage(const MailSettings& settings, const std::string& period,
                                 const std::string& trouble, const report::Report& report,
                                 std::time_t now) {
  MailMessage m = BuildSiteMessage(settings, period, report, now);
  MarkAsFallback(m, FallbackNote(period, trouble, report::PeriodText(report.from, report.to)));
  return m;
}

std::string FallbackNote(const std::string& period, const std::string& trouble,
                         const std::string& periodShown) {
  const std::string head = "The site-wide report (EmailReportPeriod " + period +
                           ") could not be made: " + trouble + ". ";
  if (periodShown.empty()) {
    return head +
           "This is this computer's own global log instead; its totals are this computer's "
           "alone.";
  }
  return head + "This is this computer's own report of the same period, " + periodShown +
         ", from its daily logs; its totals are this computer's alone.";
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
