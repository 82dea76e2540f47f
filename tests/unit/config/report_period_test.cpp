#include "agent/config/report_period.h"

#include <gtest/gtest.h>

#include "agent/config/setting_table.h"

namespace pelko {
namespace {

LogDateRange At(std::string_view period, int year, int month, int day, int hour = 12,
                int minute = 0, int second = 0) {
  LogDateRange range;
  EXPECT_TRUE(
      ReportPeriodDates(period, LocalTime{year, month, day, hour, minute, second, 0}, &range))
      << period;
  return range;
}

::testing::AssertionResult Is(const LogDateRange& range, const std::string& from,
                              const std::string& to) {
  if (range.from == from && range.to == to) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << range.from << ".." << range.to;
}

TEST(ReportPeriodTest, YesterdayAcrossMonthYearAndLeapDay) {
  EXPECT_TRUE(Is(At("yesterday", 2026, 12, 8), "20261207", "20261207"));
  EXPECT_TRUE(Is(At("yesterday", 2027, 1, 1), "20261231", "20261231"));
  EXPECT_TRUE(Is(At("yesterday", 2028, 3, 1), "20280229", "20280229"));
  EXPECT_TRUE(Is(At("yesterday", 2027, 3, 1), "20270228", "20270228"));
  EXPECT_TRUE(Is(At("yesterday", 2100, 3, 1), "21000228", "21000228"));  // no leap year
  EXPECT_TRUE(Is(At("yesterday", 2026, 5, 1), "20260430", "20260430"));
}

TEST(ReportPeriodTest, LastMonthIsTheWholeMonthBeforeFromAnyDay) {
  EXPECT_TRUE(Is(At("last-month", 2026, 12, 8), "20261101", "20261130"));
  EXPECT_TRUE(Is(At("last-month", 2027, 1, 1), "20261201", "20261231"));
  EXPECT_TRUE(Is(At("last-month", 2027, 1, 31), "20261201", "20261231"));
  EXPECT_TRUE(Is(At("last-month", 2028, 3, 31), "20280201", "20280229"));
  EXPECT_TRUE(Is(At("last-month", 2027, 3, 31), "20270201", "20270228"));
  EXPECT_TRUE(Is(At("last-month", 2026, 5, 31), "20260401", "20260430"));
}

TEST(ReportPeriodTest, TodayAndThisMonthEndToday) {
  EXPECT_TRUE(Is(At("today", 2028, 2, 29), "20280229", "20280229"));
  EXPECT_TRUE(Is(At("this-month", 2028, 2, 29), "20280201", "20280229"));
  EXPECT_TRUE(Is(At("this-month", 2026, 12, 1), "20261201", "20261201"));
  EXPECT_TRUE(Is(At("this-month", 2026, 12, 31), "20261201", "20261231"));
}

// The local date decides, to the second: a mailing just before midnight
// and one just after cover different days and months.
TEST(ReportPeriodTest, LocalMidnightTurnsThePeriod) {
  EXPECT_TRUE(Is(At("yesterday", 2026, 12, 31, 23, 59, 59), "20261230", "20261230"));
  EXPECT_TRUE(Is(At("yesterday", 2027, 1, 1, 0, 0, 0), "20261231", "20261231"));
  EXPECT_TRUE(Is(At("last-month", 2026, 11, 30, 23, 59, 59), "20261001", "20261031"));
  EXPECT_TRUE(Is(At("last-month", 2026, 12, 1, 0, 0, 0), "20261101", "20261130"));
}

TEST(ReportPeriodTest, OtherNamesAndImpossibleDatesAreRefused) {
  LogDateRange range;
  for (const char* name : {"", "Yesterday", "last month", "lastmonth", "last-month "}) {
    EXPECT_FALSE(ReportPeriodDates(name, LocalTime{2026, 12, 8}, &range)) << name;
    EXPECT_FALSE(IsReportPeriod(name)) << name;
  }
  EXPECT_FALSE(ReportPeriodDates("today", LocalTime{2026, 2, 30}, &range));
  EXPECT_FALSE(ReportPeriodDates("today", LocalTime{2026, 13, 1}, &range));
}

TEST(ReportPeriodTest, TheSettingTakesThePeriodsAndEmptyOnly) {
  const SettingInfo& setting = *FindSetting("EmailReportPeriod");
  EXPECT_EQ(setting.kind, SettingKind::kText);
  for (const char* good : {"", "today", "yesterday", "this-month", "last-month"}) {
    EXPECT_EQ(RejectValue(setting, good, nullptr), "") << good;
  }
  EXPECT_NE(RejectValue(setting, "last-week", nullptr).find("today, yesterday"), std::string::npos);
}

}  // namespace
}  // namespace pelko
