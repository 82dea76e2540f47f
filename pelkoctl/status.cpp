#include "pelkoctl/status.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iomanip>
#include <tuple>

#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"
#include "agent/monitor/pending_pages.h"
#include "pelkoctl/log_text.h"
#include "pelkoctl/pelko_key.h"
#include "pelkoctl/printer_admin.h"

namespace pelko::ctl {

namespace {

std::string UtcSeconds(int64_t at) {
  using namespace std::chrono;
  const sys_seconds when{seconds{at}};
  const sys_days day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{when - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d UTC",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
  return text;
}

// "3 d 4 h", "2 h 5 min", "40 s": enough to tell a restart from a long run.
std::string Uptime(int64_t seconds) {
  if (seconds < 60) return std::to_string(std::max<int64_t>(seconds, 0)) + " s";
  const int64_t minutes = seconds / 60, hours = minutes / 60, days = hours / 24;
  if (days > 0) return std::to_string(days) + " d " + std::to_string(hours % 24) + " h";
  if (hours > 0) return std::to_string(hours) + " h " + std::to_string(minutes % 60) + " min";
  return std::to_string(minutes) + " min";
}

std::string Json(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonEntry(const std::optional<EntryLine>& entry) {
  if (!entry) return "null";
  return "{\"printer\": " + Json(entry->printer) + ", \"date\": " + Json(entry->date) +
         ", \"time\": " + Json(entry->time) + ", \"id\": " + Json(entry->id) +
         ", \"user\": " + Json(entry->user) + ", \"pages\": " + std::to_string(entry->pages) +
         ", \"cost\": " + std::to_string(entry->cost) + "}";
}

std::string EntryText(const EntryLine& entry, const CostUnit& unit) {
  return entry.date + " " + entry.time + " job " + entry.id + " " + entry.user + " " +
         std::to_string(entry.pages) + " p. " + CostText(entry.cost, unit);
}

bool Later(const EntryLine& a, const EntryLine& b) {
  return std::tie(a.date, a.time) > std::tie(b.date, b.time);
}

std::optional<EntryLine> NewestOf(const std::vector<PrinterStatus>& printers) {
  std::optional<EntryLine> newest;
  for (const PrinterStatus& printer : printers) {
    if (printer.lastEntry && (!newest || Later(*printer.lastEntry, *newest))) {
      newest = printer.lastEntry;
    }
  }
  return newest;
}

}  // namespace

EntryLine EntryOf(const LogEntry& entry) {
  return {std::string(entry.printer), std::string(entry.date), std::string(entry.time),
          std::string(entry.id),      std::string(entry.user), std::string(entry.doc),
          EntryPages(entry),          EntryCost(entry)};
}

std::vector<std::string> DailyLogPaths(const Env& env, const std::string& printerName) {
  auto path = PelkoKey(*env.registry).Get("Path");
  if (!path || !path->Text() || path->Text()->empty()) return {};
  const char separator = env.files->Separator();
  const std::string folder = LogsFolder(*path->Text(), separator);
  const std::string stem = DailyLogBase(printerName, *env.files);
  std::vector<std::string> paths;
  if (auto search = env.files->Find(folder + separator + stem + "_*.xml")) {
    for (FileEntry entry; search->Next(&entry);) {
      if (IsDailyLogOf(entry.name, stem)) paths.push_back(folder + separator + entry.name);
    }
  }
  // By the date in the name, oldest first.
  std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
    return a.substr(a.size() - 12) < b.substr(b.size() - 12);
  });
  return paths;
}

std::optional<EntryLine> NewestEntry(const std::string& logText) {
  std::vector<LogEntry> entries;
  ReadLogEntries(logText, &entries);
  std::optional<EntryLine> newest;
  for (const LogEntry& entry : entries) {
    EntryLine line = EntryOf(entry);
    if (!newest || Later(line, *newest)) newest = std::move(line);
  }
  return newest;
}

Status ReadStatus(const Env& env, HostProbe* probe, int64_t nowUtc) {
  Status status;
  status.now = nowUtc;
  const LocalTime today = env.clock->Now();
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", today.year, today.month, today.day);
  status.date = date;
  status.unit = ReadCostUnit(*env.registry);
  if (probe != nullptr) {
    status.agentWhy = probe->AgentNotRunning();
    status.agentRunning = status.agentWhy.empty();
    if (status.agentRunning) status.agentSince = probe->AgentStartedAt();
  }
  std::vector<PrinterRow> rows;
  std::string countProblem;
  PrinterAdmin(env).List(&rows, &countProblem);
  const std::string todays = FormatFileDate(today);
  LogStore logs(env);
  for (const PrinterRow& row : rows) {
    if (row.name.empty() || row.hidden) continue;
    PrinterStatus printer;
    printer.name = row.name;
    const std::vector<std::string> paths = DailyLogPaths(env, row.name);
    std::string text;
    if (!paths.empty() && logs.ReadAll(paths.back(), &text) == FileStatus::kOk) {
      text = LogTextForUser(std::move(text));
      printer.lastEntry = NewestEntry(text);
      if (DateOfLogName(BaseName(paths.back(), env.files->Separator())) == todays) {
        std::vector<LogEntry> entries;
        ReadLogEntries(text, &entries);
        for (const LogEntry& entry : entries) {
          ++printer.jobsToday;
          printer.pagesToday += EntryPages(entry);
          printer.costToday += EntryCost(entry);
        }
      }
    }
    std::string pending;
    if (env.files->ReadText(PendingPagesPath(env, row.name), &pending) == FileStatus::kOk) {
      for (const JobRecord& job : DecodePendingPages(pending, row.name)) {
        ++printer.pendingJobs;
        printer.pendingPages += job.pages;
      }
    }
    status.printers.push_back(std::move(printer));
  }
  auto path = PelkoKey(*env.registry).Get("Path");
  status.database = DatabaseFinding(env, path && path->Text() ? *path->Text() : "");
  status.mail = ReadMailOutcome(*env.registry);
  return status;
}

void PrintStatus(const Status& status, std::ostream& out) {
  out << "today " << status.date << '\n';
  if (status.agentRunning) {
    out << "agent     running";
    if (status.agentSince) {
      out << " since " << UtcSeconds(*status.agentSince) << " ("
          << Uptime(status.now - *status.agentSince) << ")";
    }
    out << '\n';
  } else {
    out << "agent     NOT RUNNING: " << status.agentWhy << '\n';
  }
  const std::optional<EntryLine> newest = NewestOf(status.printers);
  out << "last entry " << (newest ? newest->printer + " " + EntryText(*newest, status.unit) : "-")
      << '\n';
  if (!status.database) {
    out << "database  not used\n";
  } else {
    static const char* const kWord[] = {"ok", "ok", "WARN", "FAULT"};
    out << "database  " << kWord[static_cast<int>(status.database->verdict)] << ": "
        << status.database->line << '\n';
  }
  if (status.mail.time.empty()) {
    out << "last mail none yet\n";
  } else if (status.mail.result == 0) {
    out << "last mail sent at " << status.mail.time << '\n';
  } else {
    out << "last mail FAILED at " << status.mail.time << " (event " << status.mail.result
        << "): " << status.mail.error << '\n';
  }
  if (status.printers.empty()) {
    out << "no printer is configured: pelkoctl add NAME --cost N\n";
    return;
  }
  std::size_t width = 7;
  for (const PrinterStatus& printer : status.printers) width = std::max(width, printer.name.size());
  out << '\n'
      << std::left << std::setw(static_cast<int>(width) + 2) << "PRINTER" << std::right
      << std::setw(5) << "JOBS" << std::setw(7) << "PAGES" << std::setw(14) << "COST"
      << std::setw(9) << "PENDING"
      << "  LAST ENTRY\n";
  int jobs = 0;
  int64_t pages = 0, cost = 0;
  for (const PrinterStatus& printer : status.printers) {
    out << std::left << std::setw(static_cast<int>(width) + 2) << printer.name << std::right
        << std::setw(5) << printer.jobsToday << std::setw(7) << printer.pagesToday << std::setw(14)
        << CostText(printer.costToday, status.unit) << std::setw(9) << printer.pendingPages << "  "
        << (printer.lastEntry ? EntryText(*printer.lastEntry, status.unit) : "-") << '\n';
    jobs += printer.jobsToday;
    pages += printer.pagesToday;
    cost += printer.costToday;
  }
  out << std::left << std::setw(static_cast<int>(width) + 2) << "total" << std::right
      << std::setw(5) << jobs << std::setw(7) << pages << std::setw(14)
      << CostText(cost, status.unit) << '\n';
}

void PrintStatusJson(const Status& status, std::ostream& out) {
  out << "{\n  \"date\": " << Json(status.date) << ",\n  \"cost_unit\": " << Json(status.unit.unit)
      << ",\n  \"agent\": {\"running\": " << (status.agentRunning ? "true" : "false")
      << ", \"since\": " << (status.agentSince ? Json(UtcSeconds(*status.agentSince)) : "null")
      << ", \"uptime_seconds\": "
      << (status.agentSince ? std::to_string(status.now - *status.agentSince) : "null")
      << ", \"why\": " << Json(status.agentWhy) << "},\n  \"printers\": [";
  int jobs = 0;
  int64_t pages = 0, cost = 0;
  for (std::size_t i = 0; i < status.printers.size(); ++i) {
    const PrinterStatus& p = status.printers[i];
    out << (i == 0 ? "\n" : ",\n") << "    {\"name\": " << Json(p.name)
        << ", \"jobs_today\": " << p.jobsToday << ", \"pages_today\": " << p.pagesToday
        << ", \"cost_today\": " << p.costToday
        << ", \"cost_today_text\": " << Json(CostText(p.costToday, status.unit))
        << ", \"pending_jobs\": " << p.pendingJobs << ", \"pending_pages\": " << p.pendingPages
        << ", \"last_entry\": " << JsonEntry(p.lastEntry) << "}";
    jobs += p.jobsToday;
    pages += p.pagesToday;
    cost += p.costToday;
  }
  out << (status.printers.empty() ? "]" : "\n  ]")
      << ",\n  \"last_entry\": " << JsonEntry(NewestOf(status.printers))
      << ",\n  \"totals\": {\"jobs_today\": " << jobs << ", \"pages_today\": " << pages
      << ", \"cost_today\": " << cost
      << ", \"cost_today_text\": " << Json(CostText(cost, status.unit)) << "},\n";
  static const char* const kState[] = {"ok", "ok", "warning", "fault"};
  out << "  \"database\": {\"state\": "
      << Json(status.database ? kState[static_cast<int>(status.database->verdict)] : "off")
      << ", \"said\": " << Json(status.database ? status.database->line : "") << "},\n";
  const char* mail = status.mail.time.empty()  ? "none"
                     : status.mail.result == 0 ? "sent"
                                               : "failed";
  out << "  \"last_mail\": {\"state\": " << Json(mail) << ", \"time\": " << Json(status.mail.time)
      << ", \"event\": " << status.mail.result << ", \"error\": " << Json(status.mail.error)
      << "}\n}\n";
}

}  // namespace pelko::ctl
