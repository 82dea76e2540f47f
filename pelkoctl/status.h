// pelkoctl status: the day at a glance, from what the agent and the mail
// program leave behind (the daily logs, the pending pages, the settings
// store) and what the machine and the central database say.
//
// --json's keys, stable for scripts:
//   date                "YYYY-MM-DD", the day the figures are of
//   cost_unit           the CostUnit setting's unit, "" for none
//   agent               {running, since ("YYYY-MM-DD HH:MM:SS UTC" or null),
//                        uptime_seconds (or null), why (empty when running)}
//   printers[]          {name, jobs_today, pages_today, cost_today (as the
//                        logs keep it), cost_today_text, pending_jobs,
//                        pending_pages, last_entry (or null)}
//   last_entry          the newest entry of every printer's, or null; an
//                        entry: {printer, date, time, id, user, pages, cost}
//   totals              {jobs_today, pages_today, cost_today, cost_today_text}
//   database            {state: "off", "ok", "warning" or "fault"; said}
//   last_mail           {state: "none", "sent" or "failed"; time; event; error}
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "agent/config/cost_unit.h"
#include "agent/config/mail_outcome.h"
#include "agent/logs/log_format.h"
#include "agent/platform/env.h"
#include "pelkoctl/health_check.h"

namespace pelko::ctl {

struct EntryLine {
  std::string printer, date, time, id, user, doc;
  int32_t pages = 0;
  int32_t cost = 0;
};

struct PrinterStatus {
  std::string name;
  int jobsToday = 0;
  int64_t pagesToday = 0;
  int64_t costToday = 0;
  int pendingJobs = 0;
  int64_t pendingPages = 0;
  std::optional<EntryLine> lastEntry;
};

struct Status {
  std::string date;  // YYYY-MM-DD
  CostUnit unit;
  bool agentRunning = false;
  std::string agentWhy;
  std::optional<int64_t> agentSince;  // seconds since 1970, UTC
  int64_t now = 0;                    // the same
  std::vector<PrinterStatus> printers;
  std::optional<Finding> database;  // none: no central database set
  MailOutcome mail;
};

// An entry's values as the log holds them.
EntryLine EntryOf(const LogEntry& entry);

// A printer's daily logs in the logs folder under Path, oldest first.
std::vector<std::string> DailyLogPaths(const Env& env, const std::string& printerName);

// The newest entry of a log's text by its date and time (a pending job
// written late may stand behind a later one).
std::optional<EntryLine> NewestEntry(const std::string& logText);

// nowUtc: seconds since 1970, for the agent's uptime.
Status ReadStatus(const Env& env, HostProbe* probe, int64_t nowUtc);
void PrintStatus(const Status& status, std::ostream& out);
void PrintStatusJson(const Status& status, std::ostream& out);

}  // namespace pelko::ctl
