// The rows a daily log file gives the database: one per job entry (the
// Total is none), texts as UTF-8 and cut to what the columns hold.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelko::database {

struct JobRow {
  std::string printer;
  int64_t jobId = 0;
  std::string user, document;
  int64_t pages = 0, cost = 0;
  std::string date, time;
  // The entry's print details: none where it holds none, and an empty text
  // where the job did not tell it; the database holds NULL for either.
  std::optional<int64_t> copies, colorPages, monoPages;
  std::string sides, paper, client, colorFrom;

  bool operator==(const JobRow&) const = default;
};

// "20261206" of a daily log's file name ("Front_20261206.xml"); empty for
// any other file, the global logs included.
std::string LogDateOfFile(std::string_view fileName);

// The job rows of a log file's text in file order, every entry of an id
// given again among them (its date and time tell it apart); of entries
// with one printer, job id, date and time (a damaged file), the last.
std::vector<JobRow> JobRowsOfLog(std::string_view text);

// Gives the rows of a log that holds no details those of its twin's entries
// (the same printer, job id, date and time).
void FillDetailsFromTwin(const std::vector<JobRow>& twin, std::vector<JobRow>* rows);

}  // namespace pelko::database
