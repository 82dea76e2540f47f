// The site-wide report of the central database, which the mail program
// sends in place of this computer's global log when EmailReportPeriod names
// a period, and the way back when the database does not answer: this
// computer's own report of the same period, from its daily logs. The mail
// then says so, and never shows totals it could not read.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "agent/config/cost_unit.h"
#include "agent/config/report_period.h"
#include "agent/platform/clock.h"
#include "agent/platform/files.h"
#include "agent/platform/registry.h"
#include "agent/platform/sql.h"
#include "report/database_source.h"
#include "sendrik/mail_message.h"
#include "sendrik/mail_settings.h"

namespace pelko::mail {

// The longest wait for the database, connecting and for the report's query.
inline constexpr uint32_t kDatabaseTimeoutSeconds = 30;

struct SiteSettings {
  std::string period;       // EmailReportPeriod; empty: the global log is mailed
  std::string connection;   // DatabaseConnection
  SealedPassword password;  // DatabasePassword as the registry keeps it
  CostUnit costUnit;        // CostUnit, which every report shows costs in
};

SiteSettings ReadSiteSettings(Registry& registry);

// What one run found of the site report.
struct SiteChoice {
  bool wanted = false;  // a period is set
  bool read = false;    // the database answered: the report is the mail
  LogDateRange range;   // the period's log dates; empty where it names none
  report::Report report;
  std::string trouble;  // wanted and not read: why, in one line
};

// The report of site.period taken at the local time now.
SiteChoice ReadSiteChoice(SqlConnector& sql, const SiteSettings& site, const LocalTime& now,
                          uint32_t timeoutSeconds = kDatabaseTimeoutSeconds);

// "SiteReport_20261101-20261130.html", "Report_20261101-20261130.html" for
// this computer's own.
std::string SiteAttachmentName(const report::Report& report);

// The mail of a site report: UTF-8, the HTML page as the body and attached
// (ReportPage).
MailMessage BuildSiteMessage(const MailSettings& settings, const std::string& period,
                             const report::Report& report, std::time_t now);
std::string ReportPage(const report::Report& report);

// This computer's report of range, from the daily logs of those dates in
// logsFolder, as the fallback for a site report of that period. False with
// *trouble when a log cannot be read.
bool ReadLocalReport(FileSystem& files, const std::string& logsFolder, const LogDateRange& range,
                     const CostUnit& costUnit, report::Report* report, std::string* trouble);
// Its mail: the HTML page attached, the note at its head, the subject
// marked "(this computer only)".
MailMessage BuildFallbackMessage(const MailSettings& settings, const std::string& period,
                                 const std::string& trouble, const report::Report& report,
                                 std::time_t now);

// The lines that head the fallback's mail: why the site report could not
// be made, and what stands in its place (the period's report of this
// computer's logs, or where the period is unknown its global log).
std::string FallbackNote(const std::string& period, const std::string& trouble,
                         const std::string& periodShown = "");
// note at the head of both bodies of message (the HTML escaped).
void PutNote(MailMessage& message, const std::string& note);
// The global log's mail as sent in place of the site report: the note at
// its head, and its subject marked "(this computer only)".
void MarkAsFallback(MailMessage& message, const std::string& note);

// Keeps in SiteReportAway whether the database is away; true when it was
// not before (this run is the one to say it).
bool MarkDatabaseAway(Registry& registry, bool away);

}  // namespace pelko::mail
