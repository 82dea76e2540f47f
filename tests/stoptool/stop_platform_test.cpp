#include <gtest/gtest.h>

#ifdef _WIN32

#include <windows.h>

#include "stoptool/win32_stop_platform.h"

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

#else

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "stoptool/posix_stop_platform.h"

namespace pelko::stoptool {
namespace {

namespace fs = std::filesystem;

// A proc tree of our own making: the real one cannot be arranged.
class PosixStopPlatformTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "stoptool-proc-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  void Process(int id, const char* comm, const std::string& cmdline, const char* exe) {
    fs::path dir = root_ / std::to_string(id);
    fs::create_directories(dir);
    if (comm != nullptr) std::ofstream(dir / "comm") << comm << '\n';
    if (!cmdline.empty()) std::ofstream(dir / "cmdline", std::ios::binary) << cmdline;
    if (exe != nullptr) fs::create_symlink(exe, dir / "exe");
  }

  std::vector<std::pair<uint32_t, std::string>> List(uint32_t self) {
    PosixStopPlatform platform(root_.string(), self);
    std::vector<ProcessEntry> entries;
    EXPECT_TRUE(platform.ListProcesses(&entries));
    std::vector<std::pair<uint32_t, std::string>> listed;
    for (const ProcessEntry& entry : entries) listed.emplace_back(entry.id, entry.exeName);
    return listed;
  }

  fs::path root_;
};

TEST_F(PosixStopPlatformTest, ListsEveryNameInAscendingIdOrder) {
  using namespace std::string_literals;
  Process(100, "Pelkomon.exe", "C:\\Programs\\Pelko\\Pelkomon.exe\0"s, "/usr/lib/wine/wine64");
  Process(10, "pelkomon", "/opt/pelko/pelkomon\0--flag\0"s, "/opt/pelko/pelkomon");
  Process(9, "sleep", "Tavisk\0"s + "30\0"s, "/usr/bin/sleep");
  Process(7, "stopmon", "stopmon\0"s, "/opt/pelko/stopmon");  // this program
  Process(8, nullptr, "", nullptr);                              // unreadable
  fs::create_directories(root_ / "12x");
  fs::create_directories(root_ / "sys");
  fs::create_directory_symlink("10", root_ / "self");

  EXPECT_EQ(List(7), (std::vector<std::pair<uint32_t, std::string>>{
                         {9, "sleep"},
                         {9, "Tavisk"},
                         {10, "pelkomon"},
                         {100, "wine64"},
                         {100, "Pelkomon.exe"}}));

  PosixStopPlatform platform(root_.string(), 7);
  EXPECT_EQ(platform.FindWindowByTitle("Tavisk"), std::optional<uintptr_t>(9));
  EXPECT_EQ(platform.FindWindowByTitle("tavisk"), std::nullopt);
}

TEST_F(PosixStopPlatformTest, MissingProcTreeGivesNoSnapshot) {
  PosixStopPlatform platform((root_ / "absent").string(), 1);
  EXPECT_EQ(platform.TakeSnapshot(), nullptr);
  EXPECT_EQ(platform.FindWindowByTitle("Tavisk"), std::nullopt);
}

TEST(PosixStopPlatformRealTest, SeesThisProgramOnlyWhenNotToldItIsSelf) {
  const uint32_t self = static_cast<uint32_t>(getpid());
  auto listsSelf = [self](uint32_t told) {
    PosixStopPlatform platform("/proc", told);
    std::vector<ProcessEntry> entries;
    EXPECT_TRUE(platform.ListProcesses(&entries));
    for (const ProcessEntry& entry : entries) {
      if (entry.id == self) return entry.exeName == "stoptool_unit_tests";
    }
    return false;
  };
  EXPECT_TRUE(listsSelf(0));
  EXPECT_FALSE(listsSelf(self));
}

}  // namespace
}  // namespace pelko::stoptool

#endif
