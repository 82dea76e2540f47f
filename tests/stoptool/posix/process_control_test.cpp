#include "stoptool/posix/system_process_control.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace pelko::stoptool {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "stoptool-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) root = pattern;
  }
  ~TempFolder() { fs::remove_all(root); }
  const fs::path& path() const { return root; }

 private:
  fs::path root;
};

FileIdentity IdentityOf(const fs::path& file) {
  struct stat info {};
  EXPECT_EQ(stat(file.c_str(), &info), 0) << file;
  return {info.st_dev, info.st_ino};
}

constexpr uint32_t kCaller = 1000;

// A proc tree of our own making: the real one cannot be arranged.
class MatchProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    program = dir.path() / "pelkomon";
    std::ofstream(program) << "agent";
    std::ofstream(dir.path() / "copy") << "agent";
    fs::create_hard_link(program, dir.path() / "other-name");
  }

  // uids: the status file's Uid line (real, effective, saved, file system).
  ProcessMatch Match(const std::string& uids, const fs::path& exe) {
    fs::path proc = dir.path() / ("proc" + std::to_string(++processes));
    fs::create_directories(proc);
    std::ofstream(proc / "status") << "Name:\tx\nUmask:\t0022\nState:\tS (sleeping)\n"
                                   << "Uid:\t" << uids << "\nGid:\t0\t0\t0\t0\n";
    fs::create_symlink(exe, proc / "exe");
    return MatchProcess(proc.string(), IdentityOf(program), program.string(), kCaller);
  }

  TempFolder dir;
  fs::path program;
  int processes = 0;
};

TEST_F(MatchProcessTest, TheProgramFileItselfRunByRootOrTheCaller) {
  EXPECT_EQ(Match("0\t0\t0\t0", program), ProcessMatch::kProgram);
  EXPECT_EQ(Match("1000\t1000\t1000\t1000", program), ProcessMatch::kProgram);
  EXPECT_EQ(Match("0\t1000\t0\t0", program), ProcessMatch::kProgram);
  // The same file under another name is still that file.
  EXPECT_EQ(Match("0\t0\t0\t0", dir.path() / "other-name"), ProcessMatch::kProgram);
}

TEST_F(MatchProcessTest, AnotherUsersProcessIsNeverThisProgram) {
  EXPECT_EQ(Match("1001\t1001\t1001\t1001", program), ProcessMatch::kOther);
  // Any one of the ids that could send or take signals is enough to leave it.
  EXPECT_EQ(Match("1001\t0\t0\t0", program), ProcessMatch::kOther);
  EXPECT_EQ(Match("0\t1001\t0\t0", program), ProcessMatch::kOther);
  EXPECT_EQ(Match("0\t0\t1001\t0", program), ProcessMatch::kOther);
  EXPECT_EQ(Match("1001\t1001\t1001\t1001", program.string() + " (deleted)"), ProcessMatch::kOther);
  EXPECT_EQ(Match("0\t0", program), ProcessMatch::kOther);
  EXPECT_EQ(Match("", program), ProcessMatch::kOther);
}

TEST_F(MatchProcessTest, NamesAndLookalikeFilesAreNotTheProgram) {
  EXPECT_EQ(Match("0\t0\t0\t0", dir.path() / "copy"), ProcessMatch::kOther);
  EXPECT_EQ(Match("0\t0\t0\t0", "/bin/sh"), ProcessMatch::kOther);
  EXPECT_EQ(Match("0\t0\t0\t0", dir.path() / "missing"), ProcessMatch::kOther);
  EXPECT_EQ(Match("0\t0\t0\t0", dir.path() / "copy (deleted)"), ProcessMatch::kOther);
}

TEST_F(MatchProcessTest, AFileSinceReplacedIsToldApart) {
  EXPECT_EQ(Match("0\t0\t0\t0", program.string() + " (deleted)"), ProcessMatch::kReplacedProgram);
}

// Starts `program` with `seconds` as its argument, SIGTERM ignored if asked.
pid_t Start(const fs::path& program, bool ignoreTerm) {
  pid_t child = fork();
  if (child == 0) {
    if (ignoreTerm) signal(SIGTERM, SIG_IGN);
    execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Until it has left this program for its own.
  const fs::path exe = "/proc/" + std::to_string(child) + "/exe";
  for (int tries = 0; tries < 200; ++tries) {
    std::error_code error;
    if (fs::read_symlink(exe, error) == program) break;
    usleep(10000);
  }
  return child;
}

class PosixProcessControlTest : public testing::Test {
 protected:
  void SetUp() override {
    program = dir.path() / "pelkomon";
    fs::copy_file("/bin/sleep", program);
  }
  void TearDown() override {
    for (pid_t child : children) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
  }
  pid_t Run(bool ignoreTerm) {
    children.push_back(Start(program, ignoreTerm));
    return children.back();
  }

  TempFolder dir;
  fs::path program;
  std::vector<pid_t> children;
};

TEST_F(PosixProcessControlTest, FindsEndsAndWaitsForEveryRunningCopy) {
  const uint32_t first = Run(false);
  const uint32_t second = Run(false);
  PosixProcessControl system(static_cast<uint32_t>(getuid()));
  RunningProgram running;
  std::string error;

  ASSERT_EQ(system.FindRunning(program.string(), &running, &error), ProcessControl::Found::kYes)
      << error;
  EXPECT_EQ(running.ids, (std::vector<uint32_t>{std::min(first, second), std::max(first, second)}));
  EXPECT_TRUE(running.replaced.empty());
  for (uint32_t id : running.ids) EXPECT_TRUE(system.Terminate(id, &error)) << error;
  EXPECT_TRUE(system.WaitForEnd(running.ids, 5000).empty());

  int status = 0;
  ASSERT_EQ(waitpid(static_cast<pid_t>(first), &status, 0), static_cast<pid_t>(first));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  children.clear();
  waitpid(static_cast<pid_t>(second), nullptr, 0);
}

TEST_F(PosixProcessControlTest, AProcessThatIgnoresTheRequestIsReportedAfterTheWait) {
  const uint32_t stubborn = Run(true);
  PosixProcessControl system(static_cast<uint32_t>(getuid()));
  RunningProgram running;
  std::string error;
  ASSERT_EQ(system.FindRunning(program.string(), &running, &error), ProcessControl::Found::kYes);
  ASSERT_EQ(running.ids, std::vector<uint32_t>{stubborn});

  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(system.Terminate(stubborn, &error)) << error;
  EXPECT_EQ(system.WaitForEnd(running.ids, 300), std::vector<uint32_t>{stubborn});
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(290));
  EXPECT_LT(waited, std::chrono::seconds(3));
}

TEST_F(PosixProcessControlTest, ProgramFilesThatAreMissingOrReplaced) {
  PosixProcessControl system(static_cast<uint32_t>(getuid()));
  RunningProgram running;
  std::string error;
  EXPECT_EQ(system.FindRunning((dir.path() / "absent").string(), &running, &error),
            ProcessControl::Found::kNoProgramFile);
  EXPECT_NE(error.find("absent"), std::string::npos);

  const uint32_t old = Run(false);
  fs::path fresh = dir.path() / "fresh";
  fs::copy_file("/bin/sleep", fresh);
  fs::rename(fresh, program);
  ASSERT_EQ(system.FindRunning(program.string(), &running, &error), ProcessControl::Found::kYes);
  EXPECT_TRUE(running.ids.empty());
  EXPECT_EQ(running.replaced, std::vector<uint32_t>{old});
  EXPECT_FALSE(system.Terminate(old, &error));
}

TEST(PosixOwnFolderTest, IsTheFolderOfThisProgramsFile) {
  PosixProcessControl system(0);
  std::string folder;
  std::string error;
  ASSERT_TRUE(system.OwnFolder(&folder, &error)) << error;
  EXPECT_EQ(fs::path(folder), fs::read_symlink("/proc/self/exe").parent_path());
}

}  // namespace
}  // namespace pelko::stoptool
