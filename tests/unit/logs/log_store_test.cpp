#include "agent/logs/log_store.h"

#include <gtest/gtest.h>

#include "agent/logs/log_format.h"
#include "tests/unit/logs/log_test_fixture.h"

namespace pelko {
namespace {

class LogStoreTest : public LogTest {};

TEST_F(LogStoreTest, ComposesPathsFromTheRegistryOfTheMomentAndTheClock) {
  LogStore store(fake.env);
  fake.clock.SetNow(LocalTime{2027, 1, 5, 9, 0, 0, 0});
  EXPECT_EQ(store.ComposePath("HP 4000", "xml"), "C:\\Pelko\\Logs\\HP 4000_20270105.xml");

  fake.registry.Remove("Software\\Pelko\\Path");
  EXPECT_EQ(store.ComposePath("GlobalLog", "xml", LocalTime{987, 10, 31, 0, 0, 0, 0}),
            "\\Logs\\GlobalLog_9871031.xml");

  FakeEnv posix;
  FakeFileSystem slashes('/');
  posix.env.files = &slashes;
  posix.registry.PutString("Software\\Pelko\\Path", "/srv/pelko");
  LogStore other(posix.env);
  EXPECT_EQ(other.ComposePath("HP", "xml", LocalTime{2026, 12, 6, 0, 0, 0, 0}),
            "/srv/pelko/Logs/HP_20261206.xml");
}

TEST_F(LogStoreTest, HeadAndFooter) {
  LogStore store(fake.env);
  fake.clock.SetNow(LocalTime{2026, 3, 4, 9, 0, 0, 0});
  EXPECT_EQ(store.MakeHeader("\\\\SRV\\HP"),
            "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' "
            "type='text/xsl' ?><log> <type>\\\\SRV\\HP</type> <date>2026/03/04</date>");
  EXPECT_EQ(store.MakeFooter(), "</log>");
  EXPECT_EQ(FormatLogTime(LocalTime{2026, 3, 4, 9, 5, 3, 0}), "09:05:03");
  EXPECT_EQ(FormatLogTime(LocalTime{2026, 3, 4, 23, 59, 10, 0}), "23:59:10");
}

TEST_F(LogStoreTest, ReadsTellAMissingFileFromOneThatCannotBeRead) {
  LogStore store(fake.env);
  const std::string path = LogPath("HP");
  std::string text = "stale";
  EXPECT_EQ(store.ReadAll(path, &text), FileStatus::kMissing);
  EXPECT_EQ(text, "");
  fake.files.PutFile(path, "a\nb");
  EXPECT_EQ(store.ReadAll(path), "a\nb");
  fake.files.Hold(path);
  EXPECT_EQ(store.ReadAll(path, &text), FileStatus::kBusy);
  EXPECT_EQ(store.ReadAll(path), "");
}

}  // namespace
}  // namespace pelko
