// The names of the log files, made and taken apart in one place. A daily
// log is "<printer>_YYYYMMDD.xml" in the Logs folder under Path, the global
// log "GlobalLog_YYYYMMDD.xml" beside it.
#pragma once

#include <string>
#include <string_view>

#include "agent/platform/clock.h"
#include "agent/platform/files.h"

namespace pelko {

inline constexpr char kGlobalLogBase[] = "GlobalLog";

// The logs folder under the configured Path.
std::string LogsFolder(const std::string& path, char separator);

// "20261206": every part below 10 gets a "0".
std::string FormatFileDate(const LocalTime& t);
// "<base>_YYYYMMDD.<extension>".
std::string LogFileName(std::string_view base, const LocalTime& date,
                        std::string_view extension = "xml");
// The part of a printer name after its last backslash.
std::string ShortPrinterName(const std::string& printerName);
// name with every byte that cannot stand in a file name here replaced by
// "_"; "." and ".." (and the empty name's neighbours) never name a folder.
std::string SafeFileName(const std::string& name, const FileSystem& files);

// "<printer>.<extension>": a file the agent keeps of a printer beside its
// logs ("HP.pending", "HP.watched"), named by the whole printer name.
std::string PrinterFileName(const std::string& printerName, const FileSystem& files,
                            std::string_view extension);
// The base of a printer's daily log names: its short name, safe for a file.
std::string DailyLogBase(const std::string& printerName, const FileSystem& files);

// The part of a path after its last separator; where the separator is a
// backslash, a slash separates too.
std::string_view BaseName(std::string_view path, char separator);
// The YYYYMMDD of a name "<base>_YYYYMMDD.xml" (".xml" in any case), or ""
// for any other name.
std::string DateOfLogName(std::string_view name);
// The eight bytes before a name's last four, whatever they are: where a
// log's name holds its date. Shorter names give what they have.
std::string DateFieldOfLogName(std::string_view name);
// The details twin of a daily log: "<base>_YYYYMMDD.xml" with "details" for
// its extension. Where the logs leave the details out, the twin keeps them
// for the central database alone.
std::string DetailsTwinOf(std::string_view logPath);
// The daily log a twin's path stands beside; "" for a path that names none.
std::string LogOfDetailsTwin(std::string_view twinPath);

// Whether a file name (no folder) is one of the gathered logs that the
// global log leaves out: it holds "AllDay", "Aggregate" or "Global".
bool IsGatheredLogName(std::string_view name);

}  // namespace pelko
