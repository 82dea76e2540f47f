// The columns of a job and the groups its figures are summed by, once: the
// log reader, the database's reader and every writer (CSV, HTML, text, the
// terminal's summary) take them from these two tables, in their order.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/logs/log_format.h"
#include "report/figures.h"

namespace pelko::report {

enum class CellKind {
  kStamp,  // a date or a time: shown as it is
  kName,   // a name of the spooler's, in the log's encoding: "(none)" where empty
  kText,   // a text of the agent's own
  kCount,
  kCost,
};

struct JobColumn {
  std::string_view csv;    // the CSV's header; empty: not in the CSV
  std::string_view label;  // the HTML list's header; empty: not in the list
  std::string_view sql;    // the column of pelko_jobs
  CellKind kind;
  // The value: a text of the job, or a figure.
  std::string Job::*text = nullptr;
  int32_t Job::*figure = nullptr;
  // Where a log's entry holds it: among its values, or its details.
  std::string_view JobEntry::*entry = nullptr;
  std::string_view EntryDetails::*detail = nullptr;
  std::string_view htmlClass = {};  // of the HTML list's cell
  // What comes before it in the plain text's line of a job; empty: not in
  // that line. A count's unit follows it there, plural but for one.
  std::string_view textLead = {};
  std::string_view textUnit = {};
  constexpr bool IsDetail() const { return detail != nullptr; }
};

// The details follow the rest: an entry without them leaves them empty,
// and CSV gives them columns only once a job has them. server_name stands
// where the database has always read it, and only the database has it.
inline constexpr std::array<JobColumn, 16> kJobColumns{{
    {"date", "Date", "job_date", CellKind::kStamp, &Job::date, nullptr, &JobEntry::date, nullptr,
     "stamp", "  "},
    {"time", "Time", "job_time", CellKind::kStamp, &Job::time, nullptr, &JobEntry::time, nullptr,
     "stamp", " "},
    {"id", "", "job_id", CellKind::kText, &Job::id, nullptr, &JobEntry::id},
    {"user",
     "User",
     "user_name",
     CellKind::kName,
     &Job::user,
     nullptr,
     &JobEntry::user,
     nullptr,
     {},
     "  "},
    {"printer",
     "Printer",
     "printer",
     CellKind::kName,
     &Job::printer,
     nullptr,
     &JobEntry::printer,
     nullptr,
     {},
     "  "},
    {"document", "Document", "document", CellKind::kName, &Job::doc, nullptr, &JobEntry::doc,
     nullptr, "doc", "  "},
    {"pages", "Pages", "pages", CellKind::kCount, nullptr, &Job::pages, &JobEntry::pages, nullptr,
     "num", "  ", "page"},
    {"cost", "Cost", "cost", CellKind::kCost, nullptr, &Job::cost, &JobEntry::cost, nullptr, "num",
     "  cost "},
    {"", "", "server_name", CellKind::kText, &Job::server},
    {"copies", "", "copies", CellKind::kCount, nullptr, &Job::copies, nullptr,
     &EntryDetails::copies},
    {"colorpages", "Colour", "color_pages", CellKind::kCount, nullptr, &Job::colorPages, nullptr,
     &EntryDetails::colorPages, "num", "  colour "},
    {"monopages", "Mono", "mono_pages", CellKind::kCount, nullptr, &Job::monoPages, nullptr,
     &EntryDetails::monoPages, "num", ", mono "},
    {"sides", "", "sides", CellKind::kName, &Job::sides, nullptr, nullptr, &EntryDetails::sides},
    {"paper", "", "paper", CellKind::kName, &Job::paper, nullptr, nullptr, &EntryDetails::paper},
    {"client", "", "client", CellKind::kName, &Job::client, nullptr, nullptr,
     &EntryDetails::client},
    {"colorfrom", "", "color_from", CellKind::kText, &Job::colorFrom, nullptr, nullptr,
     &EntryDetails::colorFrom},
}};

// The database reads a row without details, and CSV widens its rows, by
// the details standing last.
static_assert([] {
  bool details = false;
  for (const JobColumn& column : kJobColumns) {
    if (details && !column.IsDetail()) return false;
    details = column.IsDetail();
  }
  return true;
}());

// A job from a log's entry, every value cleaned where the entry is not.
Job JobOfEntry(const LogEntry& entry);

// How a group's name reads: as kept, a month "2026/12", a day "2026/12/07".
enum class GroupName { kName, kMonth, kDay };

struct JobGroup {
  std::string_view field;   // "user": ids, CSV header, where a row links to
  std::string_view title;   // "Per user"
  std::string_view header;  // "User"
  std::string_view all;     // "All users"
  std::string_view plural;  // "users", for its chart
  GroupName name;
  std::vector<Subtotal> Report::*groups;
  // The group of a job: its name; empty text where it has none.
  std::string (*of)(const Job&);
  bool ranked;  // largest cost first; else in the order of their names
  bool always;  // a job of no name counts in a group "" (a server's does not)
  // The database's: the column of pelko_jobs, and the kind of
  // pelko_job_sums that sums by it (0: none).
  std::string_view sql;
  char sumKind = 0;
};

inline constexpr std::size_t kUsers = 0, kPrinters = 1, kServers = 2, kMonths = 3, kDays = 4;
inline constexpr std::array<JobGroup, kGroupCount> kJobGroups{{
    {"user", "Per user", "User", "All users", "users", GroupName::kName, &Report::users,
     [](const Job& j) { return j.user; }, true, true, "user_name", 'u'},
    {"printer", "Per printer", "Printer", "All printers", "printers", GroupName::kName,
     &Report::printers, [](const Job& j) { return j.printer; }, true, true, "printer", 'p'},
    {"server", "Per server", "Server", "All servers", "servers", GroupName::kName, &Report::servers,
     [](const Job& j) { return j.server; }, true, false, "server_name"},
    {"month", "Per month", "Month", "All months", "months", GroupName::kMonth, &Report::months,
     [](const Job& j) { return j.date.substr(0, 7); }, false, true, "SUBSTRING(job_date, 1, 7)"},
    {"day", "Per day", "Day", "All days", "days", GroupName::kDay, &Report::days,
     [](const Job& j) { return j.date; }, false, true, "job_date"},
}};

// The groups the terminal's summary tabulates for each period, and the
// database's sums read by month.
inline constexpr std::array<std::size_t, 2> kSummaryGroups{kUsers, kPrinters};

}  // namespace pelko::report
