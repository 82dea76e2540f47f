#include "agent/database/job_rows.h"

#include <map>
#include <tuple>
#include <utility>

#include "agent/database/column_widths.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/util/unicode.h"

namespace pelko::database {

namespace {

std::string Column(std::string_view logText, std::size_t chars) {
  return TruncateUtf8(LogTextToUtf8(logText), chars);
}

}  // namespace

std::string LogDateOfFile(std::string_view name) {
  return IsGatheredLogName(name) ? std::string() : DateOfLogName(name);
}

std::vector<JobRow> JobRowsOfLog(std::string_view text) {
  std::vector<LogEntry> entries;
  ReadLogEntries(text, &entries);
  std::vector<JobRow> rows;
  rows.reserve(entries.size());
  std::map<std::tuple<std::string, int64_t, std::string, std::string>, std::size_t> seen;
  for (const LogEntry& entry : entries) {
    JobRow row;
    row.printer = Column(entry.printer, kNameChars);
    row.jobId = LeadingInt(entry.id);
    row.user = Column(entry.user, kNameChars);
    row.document = Column(entry.doc, kDocumentChars);
    row.pages = EntryPages(entry);
    row.cost = EntryCost(entry);
    row.date = Column(entry.date, 10);
    row.time = Column(entry.time, 8);
    if (entry.hasDetails) {
      const EntryDetails& details = entry.details;
      row.copies = LeadingInt(details.copies);
      row.colorPages = LeadingInt(details.colorPages);
      row.monoPages = LeadingInt(details.monoPages);
      row.sides = Column(details.sides, kDetailChars);
      row.paper = Column(details.paper, kDetailChars);
      row.client = Column(details.client, kNameChars);
      row.colorFrom = Column(details.colorFrom, kDetailChars);
    }
    auto [at, added] =
        seen.emplace(std::tuple(row.printer, row.jobId, row.date, row.time), rows.size());
    if (added) {
      rows.push_back(std::move(row));
    } else {
      rows[at->second] = std::move(row);
    }
  }
  return rows;
}

void FillDetailsFromTwin(const std::vector<JobRow>& twin, std::vector<JobRow>* rows) {
  if (twin.empty()) return;
  std::map<std::tuple<std::string_view, int64_t, std::string_view, std::string_view>, const JobRow*>
      byEntry;
  for (const JobRow& row : twin) byEntry[{row.printer, row.jobId, row.date, row.time}] = &row;
  for (JobRow& row : *rows) {
    if (row.copies) continue;
    const auto found = byEntry.find({row.printer, row.jobId, row.date, row.time});
    if (found == byEntry.end()) continue;
    const JobRow& told = *found->second;
    row.copies = told.copies;
    row.colorPages = told.colorPages;
    row.monoPages = told.monoPages;
    row.sides = told.sides;
    row.paper = told.paper;
    row.client = told.client;
    row.colorFrom = told.colorFrom;
  }
}

}  // namespace pelko::database
