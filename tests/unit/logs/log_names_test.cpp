#include "agent/logs/log_names.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_env.h"

namespace pelko {
namespace {

TEST(LogNamesTest, ANameMadeIsReadBackWithItsDate) {
  for (const LocalTime& date :
       {LocalTime{2026, 12, 6, 0, 0, 0, 0}, LocalTime{2027, 1, 31, 0, 0, 0, 0},
        LocalTime{2028, 2, 29, 0, 0, 0, 0}}) {
    const std::string name = LogFileName("My_Printer", date);
    EXPECT_EQ(DateOfLogName(name), FormatFileDate(date)) << name;
  }
  EXPECT_EQ(LogFileName("HP", LocalTime{2026, 3, 4, 0, 0, 0, 0}), "HP_20260304.xml");
  EXPECT_EQ(LogFileName("HP", LocalTime{2026, 3, 4, 0, 0, 0, 0}, "pending"), "HP_20260304.pending");
}

TEST(LogNamesTest, OnlyADailyLogNameHasADate) {
  EXPECT_EQ(DateOfLogName("HP_20261206.XML"), "20261206");
  EXPECT_EQ(DateOfLogName("HP_2026120x.xml"), "");
  EXPECT_EQ(DateOfLogName("HP20261206.xml"), "");
  EXPECT_EQ(DateOfLogName("HP_20261206.xml.tmp"), "");
  // The purge reads the place of the date whatever stands there.
  EXPECT_EQ(DateFieldOfLogName("C:\\Logs\\HP_2026120x.xml"), "2026120x");
  EXPECT_EQ(DateFieldOfLogName("a.xml"), "a.xml");
}

TEST(LogNamesTest, NamesOfPathsAndPrinters) {
  EXPECT_EQ(BaseName("C:\\Pelko\\Logs/HP_20261206.xml", '\\'), "HP_20261206.xml");
  EXPECT_EQ(BaseName("/srv/pelko/Logs/a\\b.xml", '/'), "a\\b.xml");
  EXPECT_EQ(BaseName("plain.xml", '/'), "plain.xml");
  FakeFileSystem windows('\\');
  EXPECT_EQ(DailyLogBase("\\\\SRV\\Laser:Jet", windows), "Laser_Jet");
  EXPECT_EQ(DailyLogBase("..", windows), "__");
  EXPECT_TRUE(IsGatheredLogName("GlobalLog_20261206.xml"));
  EXPECT_TRUE(IsGatheredLogName("AllDay.xml"));
  EXPECT_FALSE(IsGatheredLogName("HP_20261206.xml"));
}

}  // namespace
}  // namespace pelko
