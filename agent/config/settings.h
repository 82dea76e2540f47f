// Every registry value the agent reads or writes, named once. The texts are
// the front end's own, in both its spellings of the key ("SOFTWARE\Pelko"
// and "Software\Pelko"; the registry ignores the case). Every value is read
// through RegistryDwordValue or RegistryStringValue, whose default is 0 or
// the empty text: a missing value, or one of the wrong type, reads as that.
#pragma once

#include <string>

namespace pelko::settings {

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
// REG_SZ: written by us, the file the mail program is to send.
inline constexpr char kToSendFile[] = "Software\\Pelko\\ToSendFile";
// REG_DWORD: 1 turns the old-log purge on; logs that many days old go.
inline constexpr char kDeleteOldLogs[] = "Software\\Pelko\\DeleteOldLogs";
inline constexpr char kDeleteLogsDays[] = "Software\\Pelko\\DeleteLogsDays";

// REG_SZ: the name of printer `index` (from 1).
inline std::string PrinterName(int index) {
  return "SOFTWARE\\Pelko\\Printer" + std::to_string(index);
}
// REG_DWORD: the cost of one page on printer `index`.
inline std::string PrinterCost(int index) {
  return "SOFTWARE\\Pelko\\Printer" + std::to_string(index) + "Cost";
}

}  // namespace pelko::settings
