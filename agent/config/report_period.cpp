#include "agent/config/report_period.h"

#include <chrono>
#include <cstdio>

namespace pelko {

namespace {

using std::chrono::day;
using std::chrono::days;
using std::chrono::month;
using std::chrono::months;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

std::string LogDate(const year_month_day& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

}  // namespace

bool IsReportPeriod(std::string_view name) {
  return name == "today" || name == "yesterday" || name == "this-month" || name == "last-month";
}

bool ReportPeriodDates(std::string_view period, const LocalTime& now, LogDateRange* range) {
  const year_month_day today{year{now.year}, month{static_cast<unsigned>(now.month)},
                             day{static_cast<unsigned>(now.day)}};
  if (!today.ok()) return false;
  if (period == "today") {
    range->from = range->to = LogDate(today);
  } else if (period == "yesterday") {
    range->from = range->to = LogDate(year_month_day{sys_days{today} - days{1}});
  } else if (period == "this-month") {
    range->from = LogDate(today.year() / today.month() / 1);
    range->to = LogDate(today);
  } else if (period == "last-month") {
    // The first of this month less one month: never a day that the month
    // before lacks.
    const year_month_day first = today.year() / today.month() / 1;
    const year_month_day previous = first - months{1};
    range->from = LogDate(previous);
    range->to = LogDate(year_month_day{sys_days{first} - days{1}});
  } else {
    return false;
  }
  return true;
}

}  // namespace pelko
