// A calendar time as seconds since 1970, by the calendar's own arithmetic
// rather than any time zone's or C library's: the spooler's clock is told
// in UTC already, and mktime would take it for local time.
#pragma once

#include <chrono>
#include <cstdint>

namespace pelko {

// Seconds since 1970-01-01 00:00:00 of a UTC date and time; 0 (unknown)
// where the fields are not a real time, as a spooler's unset one is not.
inline int64_t UtcSeconds(int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                          unsigned second) {
  const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                                         std::chrono::day{day}};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return 0;
  return std::chrono::sys_days{date}.time_since_epoch().count() * int64_t{86400} +
         int64_t{hour} * 3600 + int64_t{minute} * 60 + second;
}

}  // namespace pelko
