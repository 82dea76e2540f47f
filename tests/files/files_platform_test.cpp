#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include "agent/files/file_finder.h"
#include "agent/platform/files.h"
#include "tests/files/holder_process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace pelko {

namespace {

std::string HolderPath() {
#ifdef _WIN32
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self, n);
  return path.substr(0, path.rfind('\\') + 1) + "file_holder.exe";
#else
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self);
  std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
  return path.substr(0, path.rfind('/') + 1) + "file_holder";
#endif
}

}  // namespace

#ifdef _WIN32
bool HolderProcess::Start(const std::vector<std::string>& arguments) {
  std::string command = "\"" + HolderPath() + "\"";
  for (const auto& a : arguments) command += " \"" + a + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process = info.hProcess;
  return true;
}

int HolderProcess::Wait(int ms) {
  if (process == nullptr) return -1;
  if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  process = nullptr;
  return static_cast<int>(code);
}

HolderProcess::~HolderProcess() {
  if (process == nullptr) return;
  TerminateProcess(process, 1);
  CloseHandle(process);
}
#else
bool HolderProcess::Start(const std::vector<std::string>& arguments) {
  const std::string program = HolderPath();
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

int HolderProcess::Wait(int ms) {
  if (pid < 0) return -1;
  for (int waited = 0; waited <= ms; waited += 5) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

HolderProcess::~HolderProcess() {
  if (pid < 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}
#endif

namespace {

using ::testing::UnorderedElementsAre;

class FilesPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    folder = std::string(temp) + "pelko-files-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
#else
    char temp[] = "/tmp/pelko-files-XXXXXX";
    ASSERT_NE(mkdtemp(temp), nullptr);
    folder = temp;
#endif
  }
  void TearDown() override {
    FileFinder finder(files);
    finder.SetRoot(folder, true);
    finder.AddFiles("*", true, true);
    for (auto it = finder.Files().begin(); it != finder.Files().end(); ++it) {
#ifdef _WIN32
      if (it->isFolder)
        RemoveDirectoryA(it->path.c_str());
      else
        DeleteFileA(it->path.c_str());
#else
      std::remove(it->path.c_str());
#endif
    }
#ifdef _WIN32
    RemoveDirectoryA(folder.c_str());
#else
    std::remove(folder.c_str());
#endif
  }

  std::string In(const std::string& name) { return folder + files.Separator() + name; }
  void MakeFolder(const std::string& name) {
#ifdef _WIN32
    CreateDirectoryA(In(name).c_str(), nullptr);
#else
    mkdir(In(name).c_str(), 0777);
#endif
  }
  std::string RawBytes(const std::string& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
      char chunk[4096];
      std::size_t n;
      while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
      std::fclose(f);
    }
    return bytes;
  }
  bool WaitFor(const std::string& path) {
    for (int i = 0; i < 2000; ++i) {
      if (files.Exists(path)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  std::set<std::string> Names(const std::string& pattern, bool foldersOnly = false) {
    std::set<std::string> names;
    auto search = files.Find(In(pattern));
    FileEntry entry;
    while (search && search->Next(&entry)) {
      if (!foldersOnly || (entry.attributes & kAttributeDirectory) != 0) names.insert(entry.name);
    }
    return names;
  }

  FileSystem& files = PlatformFileSystem();
  std::string folder;
};

TEST_F(FilesPlatformTest, ListsWithoutRegardToCase) {
  ASSERT_EQ(files.ReplaceText(In("A.XML"), "x"), FileStatus::kOk);
  ASSERT_EQ(files.ReplaceText(In("b.xml"), "12345"), FileStatus::kOk);
  ASSERT_EQ(files.ReplaceText(In("c.txt"), ""), FileStatus::kOk);
  MakeFolder("Sub");
  MakeFolder("Dir.xml");
  EXPECT_EQ(Names("*.xml"), (std::set<std::string>{"A.XML", "b.xml", "Dir.xml"}));
  EXPECT_EQ(Names("*.xml", true), (std::set<std::string>{"Dir.xml"}));
  EXPECT_EQ(Names("*.*", true), (std::set<std::string>{".", "..", "Sub", "Dir.xml"}));
  EXPECT_EQ(Names("B.*"), (std::set<std::string>{"b.xml"}));
  EXPECT_EQ(files.Find(In("*.doc")), nullptr);
  EXPECT_EQ(files.Find(In("Nowhere") + files.Separator() + "*"), nullptr);

  auto search = files.Find(In("b.xml"));
  ASSERT_NE(search, nullptr);
  FileEntry entry;
  ASSERT_TRUE(search->Next(&entry));
  EXPECT_EQ(entry.size, 5u);
  EXPECT_EQ(entry.attributes & kAttributeDirectory, 0u);
  EXPECT_GT(entry.lastWritten, 132000000000000000ULL);  // after 2019, in file time
  EXPECT_GT(entry.created, 132000000000000000ULL);
  EXPECT_FALSE(search->Next(&entry));
  EXPECT_TRUE(files.Exists(In("Sub")));
  EXPECT_FALSE(files.Exists(In("nothing")));
}

TEST_F(FilesPlatformTest, ReplacesAtomicallyOverAnExistingFile) {
  const std::string path = In("log.xml");
  ASSERT_EQ(files.ReplaceText(path, "old"), FileStatus::kOk);
  ASSERT_EQ(files.ReplaceText(path, "new text"), FileStatus::kOk);
  std::string text;
  EXPECT_EQ(files.ReadText(path, &text), FileStatus::kOk);
  EXPECT_EQ(text, "new text");
  EXPECT_FALSE(files.Exists(path + ".tmp"));

  {
    std::unique_ptr<ReplacingWriter> writer;
    ASSERT_EQ(files.BeginReplace(path, &writer), FileStatus::kOk);
    EXPECT_TRUE(writer->Append("half of it"));
    // A second replace of the same file waits for the first.
    std::unique_ptr<ReplacingWriter> second;
    EXPECT_EQ(files.BeginReplace(path, &second), FileStatus::kBusy);
  }  // abandoned: the old file stays
  EXPECT_EQ(files.ReadText(path, &text), FileStatus::kOk);
  EXPECT_EQ(text, "new text");
  EXPECT_FALSE(files.Exists(path + ".tmp"));

  ASSERT_EQ(files.ReplaceText(path, "a\nb"), FileStatus::kOk);
#ifdef _WIN32
  EXPECT_EQ(RawBytes(path), "a\r\nb");
#else
  EXPECT_EQ(RawBytes(path), "a\nb");
#endif
  EXPECT_EQ(files.ReadText(path, &text), FileStatus::kOk);
  EXPECT_EQ(text, "a\nb");

  EXPECT_EQ(files.Delete(path), FileStatus::kOk);
  EXPECT_EQ(files.Delete(path), FileStatus::kMissing);
  EXPECT_EQ(files.ReadText(path, &text), FileStatus::kMissing);
  EXPECT_EQ(files.ReplaceText(In("Nowhere") + files.Separator() + "x.xml", "x"),
            FileStatus::kMissing);
}

TEST_F(FilesPlatformTest, OpensExcludeEachOtherBetweenProcesses) {
  const std::string path = In("held.xml");
  ASSERT_EQ(files.ReplaceText(path, "kept"), FileStatus::kOk);
  HolderProcess holder;
  ASSERT_TRUE(holder.Start({"hold", path}));
  ASSERT_TRUE(WaitFor(path + ".held"));
  std::string text;
  EXPECT_EQ(files.ReadText(path, &text), FileStatus::kBusy);
  EXPECT_EQ(files.ReplaceText(path, "lost"), FileStatus::kBusy);
  EXPECT_EQ(files.Delete(path), FileStatus::kBusy);
  EXPECT_FALSE(files.Exists(path + ".tmp"));
  ASSERT_EQ(files.ReplaceText(path + ".release", ""), FileStatus::kOk);
  EXPECT_EQ(holder.Wait(20000), 0);
  EXPECT_EQ(files.ReadText(path, &text), FileStatus::kOk);
  EXPECT_EQ(text, "kept");

  // And the other way: a replace under way here keeps the other process out.
  {
    std::unique_ptr<ReplacingWriter> writer;
    ASSERT_EQ(files.BeginReplace(path, &writer), FileStatus::kOk);
    HolderProcess prober;
    ASSERT_TRUE(prober.Start({"begin", path}));
    EXPECT_EQ(prober.Wait(20000), static_cast<int>(FileStatus::kBusy));
  }
  HolderProcess after;
  ASSERT_TRUE(after.Start({"begin", path}));
  EXPECT_EQ(after.Wait(20000), static_cast<int>(FileStatus::kOk));
  HolderProcess missing;
  ASSERT_TRUE(missing.Start({"read", In("missing.xml")}));
  EXPECT_EQ(missing.Wait(20000), static_cast<int>(FileStatus::kMissing));
}

TEST_F(FilesPlatformTest, AnOpenFolderListsEntersAndDeletesInItself) {
  MakeFolder("Sub");
  ASSERT_EQ(files.ReplaceText(In("Sub") + files.Separator() + "x.xml", "x"), FileStatus::kOk);
  ASSERT_EQ(files.ReplaceText(In("top.xml"), "t"), FileStatus::kOk);
  auto root = files.OpenFolder(folder);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->OpenFolder("top.xml"), nullptr);
  EXPECT_EQ(root->OpenFolder("Nowhere"), nullptr);
  EXPECT_EQ(root->OpenFolder(".."), nullptr);
  auto sub = root->OpenFolder("Sub");
  ASSERT_NE(sub, nullptr);
  auto search = sub->Find("*.xml");
  ASSERT_NE(search, nullptr);
  FileEntry entry;
  ASSERT_TRUE(search->Next(&entry));
  EXPECT_EQ(entry.name, "x.xml");
  EXPECT_EQ(sub->Delete("x.xml"), FileStatus::kOk);
  EXPECT_EQ(sub->Delete("x.xml"), FileStatus::kMissing);
  EXPECT_FALSE(files.Exists(In("Sub") + files.Separator() + "x.xml"));
  EXPECT_TRUE(files.Exists(In("top.xml")));
  EXPECT_EQ(files.OpenFolder(In("top.xml")), nullptr);
  EXPECT_EQ(files.OpenFolder(In("Nowhere")), nullptr);
}

#ifndef _WIN32
TEST_F(FilesPlatformTest, FolderListingDoesNotFollowALinkBackUp) {
  MakeFolder("A");
  ASSERT_EQ(symlink(folder.c_str(), In("A/loop").c_str()), 0);
  ASSERT_EQ(files.ReplaceText(In("A/x.xml"), "x"), FileStatus::kOk);
  FileFinder finder(files);
  finder.SetRoot(folder + "/", true);
  EXPECT_THAT(finder.Folders(), ::testing::ElementsAre(In("A"), folder));
  finder.AddFiles("*.xml", true, false);
  ASSERT_EQ(finder.Files().size(), 1u);
  EXPECT_EQ(finder.Files()[0].path, In("A/x.xml"));
  std::remove(In("A/loop").c_str());
}

TEST_F(FilesPlatformTest, LogsAreWrittenWithTheirOwnModeWhateverTheUmask) {
  const mode_t umaskBefore = umask(0);
  const auto modeAfterWrite = [&](const char* logMode) -> mode_t {
    if (logMode)
      setenv("PELKO_LOG_MODE", logMode, 1);
    else
      unsetenv("PELKO_LOG_MODE");
    HolderProcess writer;
    struct stat info {};
    if (!writer.Start({"write", In("mode.xml")}) ||
        writer.Wait(20000) != static_cast<int>(FileStatus::kOk) ||
        stat(In("mode.xml").c_str(), &info) != 0) {
      return 01;
    }
    return info.st_mode & 07777;
  };
  EXPECT_EQ(modeAfterWrite(nullptr), 0640u);
  EXPECT_EQ(modeAfterWrite("0644"), 0644u);
  EXPECT_EQ(modeAfterWrite("0777"), 0644u);  // never writable by others
  EXPECT_EQ(modeAfterWrite("0600"), 0600u);
  EXPECT_EQ(modeAfterWrite("rw-r--r--"), 0640u);
  unsetenv("PELKO_LOG_MODE");
  umask(umaskBefore);
}
#endif

}  // namespace
}  // namespace pelko
