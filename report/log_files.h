// Finding and reading log files for a report, from outside the agent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/files/file_finder.h"
#include "agent/platform/files.h"

namespace pelko::report {

enum class ReadStatus { kOk, kMissing, kTooLarge, kFailed, kNotRegular };

// The file's bytes as they are, if it holds at most limit bytes. Only a
// regular file is read (kNotRegular for a pipe, a device, a folder), and
// the open never waits.
ReadStatus ReadFileBytes(const std::string& path, uint64_t limit, std::string* bytes);

// Whether a log among paths declares UTF-8 (LogUtf8): a report of them
// holds its names in UTF-8 then, and moves the other logs' to it.
bool AnyDeclaresUtf8(const std::vector<std::string>& paths);

// The daily logs in folder and the folders below it dated from..to (eight
// digits each, both included; empty for no bound), newest first. Global
// logs are left out, as the agent leaves them out of the global log.
std::vector<std::string> DailyLogsIn(FileSystem& files, const std::string& folder,
                                     std::string_view from, std::string_view to);
// The same, each with its size and time; empty where folder is none.
std::vector<FoundFile> DailyLogFilesIn(FileSystem& files, const std::string& folder,
                                       std::string_view from, std::string_view to);

}  // namespace pelko::report
