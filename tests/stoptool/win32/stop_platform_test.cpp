#include <gtest/gtest.h>

#include <windows.h>

#include "stoptool/win32/system_stop_platform.h"

namespace pelko::stoptool {
namespace {

// The record size decides whether the walk sees any process at all.
TEST(Win32StopPlatformTest, SnapshotListsThisProgramByItsFileName) {
  Win32StopPlatform platform;
  ASSERT_TRUE(platform.StartUp());
  std::unique_ptr<ProcessSnapshot> snapshot = platform.TakeSnapshot();
  ASSERT_NE(snapshot, nullptr);

  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::string self(path, length);
  self = self.substr(self.find_last_of("\\/") + 1);

  int entries = 0;
  bool found = false;
  ProcessEntry entry;
  for (bool more = snapshot->First(&entry); more; more = snapshot->Next(&entry)) {
    ++entries;
    if (entry.id == GetCurrentProcessId()) {
      found = true;
      EXPECT_TRUE(AnsiEqualsIgnoringCase(entry.exeName, self, LOCALE_SYSTEM_DEFAULT))
          << entry.exeName << " vs " << self;
    }
  }
  EXPECT_GT(entries, 1);
  EXPECT_TRUE(found);
}

TEST(Win32StopPlatformTest, NoSuchWindowOrProcess) {
  Win32StopPlatform platform;
  EXPECT_FALSE(platform.FindWindowByTitle("no window has this title 7f3c").has_value());
  // Process ids are multiples of four: this one is never handed out.
  EXPECT_FALSE(platform.TerminateProcessById(0xFFFFFFF1u));
}

TEST(AnsiEqualsIgnoringCaseTest, FoldsCharactersOfTheCodePage) {
  const uint32_t english = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
  EXPECT_TRUE(AnsiEqualsIgnoringCase("PELKOMON.EXE", "Pelkomon.exe", english));
  EXPECT_TRUE(AnsiEqualsIgnoringCase("\xC9T\xC9", "\xE9t\xE9", english));  // cp1252 E acute
  EXPECT_FALSE(AnsiEqualsIgnoringCase("\xC9", "E", english));
}

TEST(AnsiEqualsIgnoringCaseTest, NeverFoldsTheTrailByteOfADoubleByteCharacter) {
  const uint32_t japanese = MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), SORT_DEFAULT);
  // Shift-JIS 0x83 0x41 and 0x83 0x61 are two different katakana; folding
  // byte by byte would make them one.
  EXPECT_FALSE(AnsiEqualsIgnoringCase("\x83\x41.exe", "\x83\x61.exe", japanese));
  EXPECT_TRUE(AnsiEqualsIgnoringCase("\x83\x41.EXE", "\x83\x41.exe", japanese));
}

}  // namespace
}  // namespace pelko::stoptool
