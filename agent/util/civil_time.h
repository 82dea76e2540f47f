// The one calendar: dates as days since 1970-01-01 and back, and calendar
// times as seconds since 1970, by the proleptic Gregorian calendar's own
// arithmetic (<chrono>) rather than any time zone's or C library's: the
// spooler's clock is told in UTC already, and mktime would take it for
// local time.
#pragma once

#include <chrono>
#include <cstdint>

namespace pelko {

// Whether year-month-day is a date of the calendar (no 31 April, 29
// February only in leap years).
inline bool IsRealDate(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  return std::chrono::year_month_day{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                                     std::chrono::day{unsigned(day)}}
      .ok();
}

// Days since 1970-01-01 of a real date; days past a month's end run on
// into the next month.
inline int64_t DaysFromCivil(int year, int month, int day) {
  const std::chrono::year_month_day first{std::chrono::year{year},
                                          std::chrono::month{unsigned(month)}, std::chrono::day{1}};
  return std::chrono::sys_days{first}.time_since_epoch().count() + day - 1;
}

inline void CivilFromDays(int64_t days, int* year, int* month, int* day) {
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
  *year = int(date.year());
  *month = int(unsigned(date.month()));
  *day = int(unsigned(date.day()));
}

// Seconds since 1970-01-01 00:00:00 of a UTC date and time; 0 (unknown)
// where the fields are not a real time, as a spooler's unset one is not.
inline int64_t UtcSeconds(int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                          unsigned second) {
  if (!IsRealDate(year, int(month), int(day)) || hour > 23 || minute > 59 || second > 59) return 0;
  return DaysFromCivil(year, int(month), int(day)) * int64_t{86400} + int64_t{hour} * 3600 +
         int64_t{minute} * 60 + second;
}

}  // namespace pelko
