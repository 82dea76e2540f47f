#include "agent/config/registry_value.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_registry.h"

namespace pelko {
namespace {

TEST(RegistryPath, SplitsIntoKeyAndValue) {
  struct Case {
    const char* path;
    const char* key;
    const char* value;
  } cases[] = {
      {"Software\\Pelko\\Path", "Software\\Pelko", "Path"},
      {"\\\\Software\\Pelko\\Path", "Software\\Pelko", "Path"},
      {"Software\\Pelko\\\\Path", "Software\\Pelko", "Path"},
      {"Software\\Pelko\\", "Software\\Pelko", ""},
      {"Path", "", "Path"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    std::string key, value;
    SplitRegistryPath(c.path, &key, &value);
    EXPECT_EQ(key, c.key) << c.path;
    EXPECT_EQ(value, c.value) << c.path;
  }
}

TEST(RegistryDwordValue, MissingReadsAsDefaultAndIsNotCreated) {
  FakeRegistry registry;
  RegistryDwordValue count(registry, "SOFTWARE\\Pelko\\nPrinters");
  EXPECT_EQ(count.Get(), 0u);
  EXPECT_FALSE(count.Loaded());
  RegistryDwordValue withDefault(registry, "SOFTWARE\\Pelko\\nPrinters", 7);
  EXPECT_EQ(withDefault.Read(), 7u);
  EXPECT_FALSE(registry.Has("SOFTWARE\\Pelko\\nPrinters"));
  EXPECT_EQ(registry.writes, 0);
  EXPECT_EQ(registry.openKeys, 0);
}

TEST(RegistryDwordValue, KeyNamesIgnoreCase) {
  FakeRegistry registry;
  registry.PutDword("SOFTWARE\\Pelko\\nPrinters", 3);
  RegistryDwordValue count(registry, "Software\\pelko\\NPRINTERS");
  EXPECT_EQ(count.Get(), 3u);
}

TEST(RegistryDwordValue, DataThatIsNoNumberReadsAsDefault) {
  FakeRegistry registry;
  registry.PutString("Software\\Pelko\\AppIsRunning", "1");  // two bytes
  registry.PutString("Software\\Pelko\\EmailAlert", "1234567");
  registry.PutRaw("Software\\Pelko\\DeleteOldLogs", kRegBinary, {1, 0, 0, 0, 0, 0, 0, 0});
  registry.PutRaw("Software\\Pelko\\DeleteLogsDays", kRegBinary, {9, 0, 0, 0});
  EXPECT_EQ(RegistryDwordValue(registry, "Software\\Pelko\\AppIsRunning", 5).Read(), 5u);
  EXPECT_EQ(RegistryDwordValue(registry, "Software\\Pelko\\EmailAlert", 5).Read(), 5u);
  EXPECT_EQ(RegistryDwordValue(registry, "Software\\Pelko\\DeleteOldLogs", 5).Read(), 5u);
  // four bytes of any type are a number: the type is not checked
  EXPECT_EQ(RegistryDwordValue(registry, "Software\\Pelko\\DeleteLogsDays").Read(), 9u);
  EXPECT_EQ(registry.openKeys, 0);
}

TEST(RegistryDwordValue, GetKeepsLastGoodValueAfterDeletion) {
  FakeRegistry registry;
  registry.PutDword("Software\\Pelko\\EmailAlertFreq", 60);
  RegistryDwordValue freq(registry, "Software\\Pelko\\EmailAlertFreq");
  registry.Remove("Software\\Pelko\\EmailAlertFreq");
  EXPECT_EQ(freq.Read(), 0u);
  EXPECT_EQ(freq.Get(), 60u);
  registry.PutDword("Software\\Pelko\\EmailAlertFreq", 5);
  EXPECT_EQ(freq.Get(), 60u) << "Get does not look again once loaded";
  EXPECT_EQ(freq.Read(), 5u);
  EXPECT_EQ(freq.Get(), 5u);
}

TEST(RegistryDwordValue, NeverLoadedGetReadsAgain) {
  FakeRegistry registry;
  RegistryDwordValue days(registry, "Software\\Pelko\\DeleteLogsDays");
  EXPECT_EQ(days.Get(), 0u);
  registry.PutDword("Software\\Pelko\\DeleteLogsDays", 30);
  EXPECT_EQ(days.Get(), 30u);
}

TEST(RegistryDwordValue, AlwaysReadFollowsTheRegistry) {
  FakeRegistry registry;
  registry.PutDword("Software\\Pelko\\X", 1);
  RegistryDwordValue x(registry, "Software\\Pelko\\X", 0, /*alwaysRead=*/true);
  registry.PutDword("Software\\Pelko\\X", 2);
  EXPECT_EQ(x.Get(), 2u);
  x.Set(2);  // alwaysRead writes even an unchanged value
  EXPECT_EQ(registry.writes, 1);
}

TEST(RegistryDwordValue, SetWritesOnlyChanges) {
  FakeRegistry registry;
  RegistryDwordValue flag(registry, "SOFTWARE\\Pelko\\IsModified");
  flag.Set(0);
  EXPECT_EQ(registry.writes, 0) << "0 is already held";
  flag.Set(1);
  EXPECT_EQ(registry.writes, 1);
  EXPECT_EQ(registry.Dword("SOFTWARE\\Pelko\\IsModified"), 1u);
  EXPECT_TRUE(flag.Loaded());
  flag.Set(1);
  EXPECT_EQ(registry.writes, 1);
  flag.Write();
  EXPECT_EQ(registry.writes, 2);
}

TEST(RegistryDwordValue, FailedWriteChangesNothing) {
  FakeRegistry registry;
  registry.failWrites = true;
  RegistryDwordValue flag(registry, "SOFTWARE\\Pelko\\IsModified");
  flag.Set(4);
  EXPECT_FALSE(flag.Loaded());
  EXPECT_FALSE(registry.Has("SOFTWARE\\Pelko\\IsModified"));
  EXPECT_EQ(registry.openKeys, 0);
}

TEST(RegistryStringValue, ReadsTextUpToItsZero) {
  FakeRegistry registry;
  registry.PutString("SOFTWARE\\Pelko\\Printer1", "\\\\SRV\\LaserJet");
  registry.PutRaw("SOFTWARE\\Pelko\\Printer2", kRegSz, {'a', 'b'});  // no terminator
  registry.PutRaw("SOFTWARE\\Pelko\\Printer3", kRegSz, {'a', 0, 'b', 0});
  registry.PutRaw("SOFTWARE\\Pelko\\Printer4", kRegSz, {});
  EXPECT_EQ(RegistryStringValue(registry, "SOFTWARE\\Pelko\\Printer1").Get(), "\\\\SRV\\LaserJet");
  EXPECT_EQ(RegistryStringValue(registry, "SOFTWARE\\Pelko\\Printer2").Get(), "ab");
  EXPECT_EQ(RegistryStringValue(registry, "SOFTWARE\\Pelko\\Printer3").Get(), "a");
  RegistryStringValue empty(registry, "SOFTWARE\\Pelko\\Printer4", "default");
  EXPECT_EQ(empty.Get(), "");
  EXPECT_TRUE(empty.Loaded());
  EXPECT_EQ(RegistryStringValue(registry, "SOFTWARE\\Pelko\\Printer5", "none").Get(), "none");
  EXPECT_EQ(registry.openKeys, 0);
}

TEST(RegistryStringValue, WritesWithTerminatorAndCreatesTheKey) {
  FakeRegistry registry;
  RegistryStringValue toSend(registry, "Software\\Pelko\\ToSendFile");
  toSend.Set("C:\\Pelko\\Logs\\GlobalLog_20261206.xml");
  EXPECT_EQ(registry.String("Software\\Pelko\\ToSendFile"),
            "C:\\Pelko\\Logs\\GlobalLog_20261206.xml");
  toSend.Set("C:\\Pelko\\Logs\\GlobalLog_20261206.xml");
  EXPECT_EQ(registry.writes, 1);
  toSend.Set("c:\\pelko\\logs\\globallog_20261206.xml");  // case counts
  EXPECT_EQ(registry.writes, 2);
}

TEST(RegistryStringValue, PathWithoutBackslashIsUnderTheRoot) {
  FakeRegistry registry;
  registry.PutString("Loose", "top");
  EXPECT_EQ(RegistryStringValue(registry, "Loose").Get(), "top");
}

}  // namespace
}  // namespace pelko
