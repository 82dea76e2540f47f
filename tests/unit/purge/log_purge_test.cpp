#include "agent/purge/log_purge_thread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <functional>

#include "tests/fakes/fake_env.h"

namespace pelko {
namespace {

struct Expiry {
  const char* date;
  LocalTime today;
  uint32_t days;
  bool expired;
};

class IsLogExpiredTest : public ::testing::TestWithParam<Expiry> {};

TEST_P(IsLogExpiredTest, FollowsTheTableWithinTheRetention) {
  EXPECT_EQ(IsLogExpired(GetParam().date, GetParam().days, GetParam().today), GetParam().expired)
      << GetParam().date << " D=" << GetParam().days;
}

// "20050303_on20050310_keep7": the case as a name a list of tests can show.
std::string ExpiryName(const ::testing::TestParamInfo<Expiry>& info) {
  std::string date;
  for (const char* c = info.param.date; *c != '\0'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) date += *c;
  }
  char today[16];
  std::snprintf(today, sizeof today, "%04d%02d%02d", info.param.today.year, info.param.today.month,
                info.param.today.day);
  return (date.empty() ? "NoDate" : date) + "_on" + today + "_keep" +
         std::to_string(info.param.days);
}

constexpr LocalTime k20050310{2005, 3, 10, 12, 0, 0, 0};
constexpr LocalTime k20050105{2005, 1, 5, 12, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Examples, IsLogExpiredTest,
    ::testing::Values(
        Expiry{"20050303", k20050310, 7, true}, Expiry{"20050304", k20050310, 7, false},
        Expiry{"20050228", k20050310, 7, true}, Expiry{"20050125", k20050310, 7, true},
        Expiry{"20050110", k20050310, 7, true}, Expiry{"20040310", k20050310, 7, true},
        Expiry{"20041231", k20050105, 7, false},
        Expiry{"20041231", LocalTime{2005, 1, 7, 0, 0, 0, 0}, 7, true},
        Expiry{"20041205", k20050105, 7, true}, Expiry{"20041115", k20050105, 7, true},
        Expiry{"20060101", k20050310, 7, true}, Expiry{"20050310", k20050310, 0, true},
        Expiry{"notes.xm", k20050310, 7, true}, Expiry{"", k20050310, 7, true}),
    ExpiryName);

// The table alone deletes these: younger than the retention.
INSTANTIATE_TEST_SUITE_P(
    Retention, IsLogExpiredTest,
    ::testing::Values(Expiry{"20050210", k20050310, 90, false},  // row 5, 28 days old
                      Expiry{"20041215", k20050310, 90, false},  // row 1, 85 days
                      Expiry{"20041210", k20050310, 90, true},   // 90 days
                      Expiry{"20041120", k20050105, 60, false},  // row 2, 46 days
                      Expiry{"20041205", k20050105, 60, false},  // row 3, 31 days
                      Expiry{"20040105", k20050105, 366, true},  // 366 days, leap year
                      Expiry{"20040106", k20050105, 366, false},
                      Expiry{"20050301", k20050310, 9, true},
                      Expiry{"20050302", k20050310, 9, false}),
    ExpiryName);

// The table alone kept these long past the retention.
INSTANTIATE_TEST_SUITE_P(
    PastTheRetention, IsLogExpiredTest,
    ::testing::Values(Expiry{"20260829", LocalTime{2026, 12, 7, 9, 0, 0, 0}, 90, true},
                      Expiry{"20260908", LocalTime{2026, 12, 7, 9, 0, 0, 0}, 90, true},
                      Expiry{"20260909", LocalTime{2026, 12, 7, 9, 0, 0, 0}, 90, false},
                      Expiry{"20260131", LocalTime{2026, 3, 1, 9, 0, 0, 0}, 7, true}),
    ExpiryName);

// Every real date of two years against a plain count of days, for
// retentions short and long, on ordinary days, month ends and leap days.
TEST(IsLogExpired, RealDatesExpireExactlyWhenTheirAgeReachesTheRetention) {
  const LocalTime todays[] = {{2026, 12, 7, 9, 0, 0, 0},
                              {2024, 3, 1, 9, 0, 0, 0},
                              {2024, 2, 29, 9, 0, 0, 0},
                              {2025, 1, 1, 9, 0, 0, 0},
                              {2100, 3, 1, 9, 0, 0, 0}};
  for (const LocalTime& today : todays) {
    const int64_t now = DaysFromCivil(today.year, today.month, today.day);
    for (int64_t day = now - 800; day <= now; ++day) {
      int y = 0, m = 0, d = 0;
      CivilFromDays(day, &y, &m, &d);
      char text[16];
      std::snprintf(text, sizeof text, "%04d%02d%02d", y, m, d);
      for (uint32_t days : {0u, 1u, 7u, 28u, 31u, 60u, 90u, 365u, 366u, 730u}) {
        ASSERT_EQ(IsLogExpired(text, days, today), now - day >= days)
            << text << " D=" << days << " today " << today.year << "-" << today.month << "-"
            << today.day;
      }
    }
  }
}

// Once read as a signed number, these deleted every log, today's included.
INSTANTIATE_TEST_SUITE_P(
    HugeRetention, IsLogExpiredTest,
    ::testing::Values(Expiry{"20050310", k20050310, 0x80000000u, false},
                      Expiry{"20050309", k20050310, 0x80000000u, false},
                      Expiry{"20041231", k20050105, 0xFFFFFFFFu, false},  // row 4
                      Expiry{"20050110", k20050310, 0xFFFFFFFFu, false},  // row 5
                      Expiry{"19700101", k20050310, 0xFFFFFFFFu, false},  // row 1
                      Expiry{"20050311", k20050310, 0u, false}),          // tomorrow, D = 0
    ExpiryName);

class LogPurgeThreadTest : public ::testing::Test {
 protected:
  LogPurgeThreadTest() : fake(/*autoAdvanceClock=*/false) {
    fake.env.threads = &PlatformThreads();
    fake.clock.SetNow(LocalTime{2026, 12, 6, 9, 0, 0, 0});
    fake.registry.PutString("Software\\Pelko\\Path", "C:\\Pelko");
    fake.registry.PutDword("Software\\Pelko\\DeleteLogsDays", 7);
    fake.files.AddFolder("C:\\Pelko\\Logs\\Sub\\Old_20200101.xml");
    thread = std::make_unique<LogPurgeThread>(fake.env, locks);
  }

  bool Has(const std::string& name) { return fake.files.Exists("C:\\Pelko\\Logs\\" + name); }

  FakeEnv fake;
  LogLocks locks;
  std::unique_ptr<LogPurgeThread> thread;
};

TEST_F(LogPurgeThreadTest, DeletesExpiredLogsAtItsStartAndThenEveryPeriod) {
  for (const char* name :
       {"HP_20261129.xml", "HP_20261130.xml", "HP_20261206.xml", "GlobalLog_20261101.xml",
        "notes.xml", "Old_20200101.XML", "Old_20200101.txt", "Sub\\HP_20261001.xml",
        "HP_20261129.details", "HP_20261130.details"}) {
    fake.files.PutFile(std::string("C:\\Pelko\\Logs\\") + name, "x");
  }
  fake.files.Hold("C:\\Pelko\\Logs\\GlobalLog_20261101.xml");
  thread->Start();
  ASSERT_TRUE(fake.clock.WaitForSleepers(1));
  EXPECT_FALSE(Has("HP_20261129.xml"));
  EXPECT_FALSE(Has("HP_20261129.details"));  // a log's details twin goes with it
  EXPECT_TRUE(Has("HP_20261130.xml"));
  EXPECT_TRUE(Has("HP_20261130.details"));
  EXPECT_TRUE(Has("HP_20261206.xml"));
  EXPECT_FALSE(Has("notes.xml"));
  EXPECT_TRUE(Has("Old_20200101.XML"));  // listed, but its path holds no "xml"
  EXPECT_TRUE(Has("Old_20200101.txt"));
  EXPECT_FALSE(Has("Sub\\HP_20261001.xml"));
  EXPECT_TRUE(Has("Sub\\Old_20200101.xml"));   // a folder: never deleted
  EXPECT_TRUE(Has("GlobalLog_20261101.xml"));  // held: found again next time
  EXPECT_EQ(fake.clock.Waits(), std::vector<uint32_t>{PurgePeriodMs});

  fake.files.Release("C:\\Pelko\\Logs\\GlobalLog_20261101.xml");
  fake.clock.SetNow(LocalTime{2026, 12, 7, 8, 59, 0, 0});
  fake.clock.Advance(PurgePeriodMs);
  ASSERT_TRUE(fake.clock.WaitForWaits(2));
  ASSERT_TRUE(fake.clock.WaitForSleepers(1));
  EXPECT_EQ(fake.clock.Waits().size(), 2u);
  EXPECT_FALSE(Has("GlobalLog_20261101.xml"));
  EXPECT_FALSE(Has("HP_20261130.xml"));
  EXPECT_TRUE(Has("HP_20261206.xml"));
}

// DeleteOldLogs 1 with no usable DeleteLogsDays once read as 0 and deleted
// today's logs every six hours.
TEST_F(LogPurgeThreadTest, WithoutANumberedRetentionDeletesNothingAndSaysSoOnce) {
  const std::string key = "Software\\Pelko\\DeleteLogsDays";
  const std::vector<std::function<void(FakeRegistry&)>> retentions = {
      [&](FakeRegistry& r) { r.Remove(key); },
      [&](FakeRegistry& r) { r.PutString(key, "7"); },
      [&](FakeRegistry& r) { r.PutString(key, "abc"); },  // four bytes with its zero
      [&](FakeRegistry& r) {
        r.PutRaw(key, kRegBinary, {0, 0, 0, 0});
      },
  };
  for (const auto& setRetention : retentions) {
    FakeEnv other(/*autoAdvanceClock=*/false);
    other.env.threads = &PlatformThreads();
    other.clock.SetNow(LocalTime{2026, 12, 6, 9, 0, 0, 0});
    other.registry.PutString("Software\\Pelko\\Path", "C:\\Pelko");
    setRetention(other.registry);
    other.files.AddFolder("C:\\Pelko\\Logs");
    other.files.PutFile("C:\\Pelko\\Logs\\HP_20261206.xml", "x");
    other.files.PutFile("C:\\Pelko\\Logs\\HP_20200101.xml", "x");
    LogPurgeThread purge(other.env, locks);
    purge.Start();
    ASSERT_TRUE(other.clock.WaitForSleepers(1));
    other.clock.Advance(PurgePeriodMs);
    ASSERT_TRUE(other.clock.WaitForWaits(2));
    ASSERT_TRUE(other.clock.WaitForSleepers(1));
    EXPECT_EQ(other.files.FilesUnder("C:\\Pelko\\Logs").size(), 2u);
    EXPECT_EQ(other.logger.Count("DeleteLogsDays"), 1);
  }
}

TEST_F(LogPurgeThreadTest, AnExplicitZeroStillDeletesTodaysLogs) {
  fake.registry.PutDword("Software\\Pelko\\DeleteLogsDays", 0);
  fake.files.PutFile("C:\\Pelko\\Logs\\HP_20261206.xml", "x");
  fake.files.PutFile("C:\\Pelko\\Logs\\HP_20261207.xml", "x");  // tomorrow's
  thread->Start();
  ASSERT_TRUE(fake.clock.WaitForSleepers(1));
  EXPECT_FALSE(Has("HP_20261206.xml"));
  EXPECT_TRUE(Has("HP_20261207.xml"));
  EXPECT_EQ(fake.logger.Count("DeleteLogsDays"), 0);
}

}  // namespace
}  // namespace pelko
