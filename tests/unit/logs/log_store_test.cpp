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
