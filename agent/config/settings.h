// Every registry value the agent and the mail program read or write, named
// once. The agent's texts are the front end's own, in both its spellings of
// the key ("SOFTWARE\Pelko" and "Software\Pelko"; the registry ignores the
// case). The agent reads every value through RegistryDwordValue (any four
// bytes) or RegistryStringValue (up to the first zero byte), whose default,
// 0 or the empty text, a missing value reads as. The mail program reads its
// own and says what it ignored.
#pragma once

#include <string>

namespace pelko::settings {

// The key itself, for the mail program, which reads all its values in one
// opening of it.
inline constexpr char kKey[] = "Software\\Pelko";

// REG_SZ: the folder under which the logs folder "Logs" lies.
inline constexpr char kPath[] = "Software\\Pelko\\Path";
// REG_DWORD: 1 lets the printer threads account printing.
inline constexpr char kAppIsRunning[] = "Software\\Pelko\\AppIsRunning";
// REG_DWORD: how many printers are configured.
inline constexpr char kPrinterCount[] = "SOFTWARE\\Pelko\\nPrinters";
// REG_DWORD: set by the front end after a change of printers; reset by us.
inline constexpr char kIsModified[] = "SOFTWARE\\Pelko\\IsModified";
// REG_DWORD: 1 turns the e-mail alert thread on; every EmailAlertFreq minutes.
inline constexpr char kEmailAlert[] = "Software\\Pelko\\EmailAlert";
inline constexpr char kEmailAlertFreq[] = "Software\\Pelko\\EmailAlertFreq";
// REG_SZ, optional: "HH:MM", the local time of one mailing a day, in place
// of the mailing every EmailAlertFreq minutes.
inline constexpr char kEmailAlertTime[] = "Software\\Pelko\\EmailAlertTime";
// REG_SZ, optional: "today", "yesterday", "this-month" or "last-month".
// Set, the mail program sends the site-wide report of the central database
// for that period in place of this computer's global log.
inline constexpr char kEmailReportPeriod[] = "Software\\Pelko\\EmailReportPeriod";
// REG_DWORD, the mail program's own: 1 once it said that the database did
// not answer for the site report, 0 again when it did.
inline constexpr char kSiteReportAway[] = "Software\\Pelko\\SiteReportAway";
// The mail program's record of its last sending (agent/config/mail_outcome.h).
inline constexpr char kLastMailResult[] = "Software\\Pelko\\LastMailResult";  // REG_DWORD
inline constexpr char kLastMailError[] = "Software\\Pelko\\LastMailError";
inline constexpr char kLastMailTime[] = "Software\\Pelko\\LastMailTime";
// REG_SZ, optional: the web server the mailed global log names its
// stylesheet on; the build's PELKO_STYLESHEET_HOST when empty.
inline constexpr char kStylesheetHost[] = "Software\\Pelko\\StylesheetHost";
// REG_SZ: written by us, the file the mail program is to send.
inline constexpr char kToSendFile[] = "Software\\Pelko\\ToSendFile";
// REG_SZ, optional: how every report and mail shows a cost, "UNIT" or
// "UNIT/DECIMALS" ("EUR/2": costs and prices are kept in cents, 1311 shown
// as "13.11 EUR"); absent, costs are shown as the bare numbers kept.
inline constexpr char kCostUnit[] = "Software\\Pelko\\CostUnit";
// REG_DWORD: 1 turns the old-log purge on; logs that many days old go.
inline constexpr char kDeleteOldLogs[] = "Software\\Pelko\\DeleteOldLogs";
inline constexpr char kDeleteLogsDays[] = "Software\\Pelko\\DeleteLogsDays";

// The mail program's own values in that key (docs/mail.md): REG_SZ, but
// for the numbers, and MailPassword, which is sealed on Windows.
inline constexpr char kMailServer[] = "MailServer";
inline constexpr char kMailSecurity[] = "MailSecurity";  // REG_DWORD
inline constexpr char kMailPort[] = "MailPort";          // REG_DWORD
inline constexpr char kMailUser[] = "MailUser";
inline constexpr char kMailPassword[] = "MailPassword";
inline constexpr char kMailFrom[] = "MailFrom";
inline constexpr char kMailTo[] = "MailTo";
inline constexpr char kMailSubject[] = "MailSubject";
inline constexpr char kMailCaFile[] = "MailCaFile";
inline constexpr char kMailTimeout[] = "MailTimeout";  // REG_DWORD

// The database every job is also kept in (docs/database.md). REG_SZ: an
// ODBC connection string or "DSN=..."; empty, the database sink is off.
inline constexpr char kDatabaseConnection[] = "Software\\Pelko\\DatabaseConnection";
// Sealed like MailPassword: a REG_BINARY on Windows, root's REG_SZ on POSIX.
inline constexpr char kDatabasePassword[] = "DatabasePassword";
// REG_SZ: the name this computer's jobs carry there; empty, the computer name.
inline constexpr char kServerName[] = "Software\\Pelko\\ServerName";

// REG_DWORD: 1 adds each job's details (copies, colour and mono pages,
// sides, paper, client) to its entry in the daily and global logs; 0 or
// absent keeps the entries as they always were.
inline constexpr char kLogJobDetails[] = "Software\\Pelko\\LogJobDetails";
// REG_DWORD: 1 begins each day's logs declaring UTF-8, with names in UTF-8;
// 0 or absent: ISO-8859-1, names in windows-1252. A log keeps the encoding
// it was begun in.
inline constexpr char kLogUtf8[] = "Software\\Pelko\\LogUtf8";
// REG_DWORD: how much colour, in hundredths of a percent of the page, a
// page must show to count as a colour page; absent: kDefaultColorThreshold.
inline constexpr char kColorThreshold[] = "Software\\Pelko\\ColorThreshold";

// REG_SZ: the name of printer `index` (from 1).
inline std::string PrinterName(int index) {
  return "SOFTWARE\\Pelko\\Printer" + std::to_string(index);
}
// REG_DWORD: the cost of one page on printer `index`.
inline std::string PrinterCost(int index) {
  return "SOFTWARE\\Pelko\\Printer" + std::to_string(index) + "Cost";
}
// REG_DWORD, optional: the cost of one colour page; absent, a colour page
// costs what a mono page does.
inline std::string PrinterColorCost(int index) {
  return "SOFTWARE\\Pelko\\Printer" + std::to_string(index) + "ColorCost";
}
// REG_DWORD, optional: the percent taken off each page printed two-sided.
inline std::string PrinterDuplexDiscount(int index) {
  return "SOFTWARE\\Pelko\\Printer" + std::to_string(index) + "DuplexDiscount";
}
// REG_SZ, optional: what a page of a paper size costs against one of any
// other, "A3=2,Tabloid=2,A5=0.5"; a size not named counts 1.
inline std::string PrinterPaperFactors(int index) {
  return "SOFTWARE\\Pelko\\Printer" + std::to_string(index) + "PaperFactors";
}

}  // namespace pelko::settings
