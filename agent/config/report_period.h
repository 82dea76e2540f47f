// The periods a site-wide report can cover, by the names the
// EmailReportPeriod setting gives them, turned into log dates for a moment
// of local time.
#pragma once

#include <string>
#include <string_view>

#include "agent/platform/clock.h"

namespace pelko {

// The names a period setting may hold, as one line for messages.
inline constexpr char kReportPeriodNames[] = "today, yesterday, this-month, last-month";

// The first and last log date of a period, YYYYMMDD, both included.
struct LogDateRange {
  std::string from, to;
};

bool IsReportPeriod(std::string_view name);

// The dates period covers when looked at at now (local time): "today" and
// "yesterday" one day each, "this-month" from its first day to today,
// "last-month" the whole month before. False for any other name.
bool ReportPeriodDates(std::string_view period, const LocalTime& now, LogDateRange* range);

}  // namespace pelko
