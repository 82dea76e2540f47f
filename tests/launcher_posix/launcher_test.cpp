#include "agent/platform/launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/lib/local_user.h"

namespace pelko {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelko-launch-XXXXXX";
    dir = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Script(const std::string& body, const std::string& folder = "") {
    const std::string path = (folder.empty() ? dir : folder) + "/Sendrik.exe";
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
    return path;
  }
  // Waits (at most 5 s) for path to appear; its text, or "timeout".
  static std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
      if (std::ifstream(path)) return Slurp(path);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "timeout";
  }
  static std::string WaitForScript(const std::string& out) {
    return WaitForFile(out + ".done") == "timeout" ? "timeout" : Slurp(out);
  }

  std::string dir;
};

TEST_F(LauncherTest, StartsTheProgramWithoutArgumentsInOurFolder) {
  const std::string out = dir + "/out";
  const std::string program = Script("echo \"$#:$(pwd)\" > " + out + "; touch " + out + ".done\n");
  EXPECT_TRUE(PlatformLauncher().Launch(program).Started());
  EXPECT_EQ(WaitForScript(out), "0:" + fs::current_path().string() + "\n");
}

TEST_F(LauncherTest, TheProgramDoesNotInheritBlockedSignals) {
  sigset_t quit, old;
  sigemptyset(&quit);
  sigaddset(&quit, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &quit, &old);
  const std::string out = dir + "/out";
  const std::string program =
      Script("grep SigBlk /proc/self/status | cut -f2 > " + out + "; touch " + out + ".done\n");
  const bool started = PlatformLauncher().Launch(program).Started();
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ASSERT_TRUE(started);
  EXPECT_EQ(WaitForScript(out), "0000000000000000\n");
}

// The mail program is handed nothing of the agent's: not its variables
// (secrets, LD_PRELOAD, a PATH through a user's folder), not its standard
// streams, not its files (log files it holds locked), however high their
// numbers. Only the store's location, to read the same ToSendFile.
TEST_F(LauncherTest, TheProgramGetsACleanEnvironmentAndOnlyDevNull) {
  setenv("PELKO_TEST_SECRET", "hunter2", 1);
  setenv("PELKO_REGISTRY", (dir + "/registry").c_str(), 1);
  rlimit limit;
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit raised{std::min<rlim_t>(limit.rlim_max, 4096), limit.rlim_max};
  setrlimit(RLIMIT_NOFILE, &raised);
  const int held = open((dir + "/held").c_str(), O_CREAT | O_RDWR, 0644);  // no CLOEXEC
  const int high = dup2(held, static_cast<int>(raised.rlim_cur) - 1);
  const std::string program = dir + "/Sendrik.exe";
  fs::copy_file(SENDRIK_STANDIN, program);
  const bool started = PlatformLauncher().Launch(program).Started();
  close(held);
  close(high);
  unsetenv("PELKO_TEST_SECRET");
  unsetenv("PELKO_REGISTRY");
  setrlimit(RLIMIT_NOFILE, &limit);
  ASSERT_TRUE(started);
  ASSERT_NE(WaitForFile(dir + "/mailed/tosend.txt"), "timeout");
  EXPECT_EQ(Slurp(dir + "/mailed/env.txt"),
            "PATH=/usr/sbin:/usr/bin:/sbin:/bin\nPELKO_REGISTRY=" + dir + "/registry\n");
  EXPECT_EQ(Slurp(dir + "/mailed/fds.txt"), "0 /dev/null\n1 /dev/null\n2 /dev/null\n");
}

TEST_F(LauncherTest, LeavesNoZombie) {
  const std::string program = Script("exit 0\n");
  ASSERT_TRUE(PlatformLauncher().Launch(program).Started());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int zombies = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string pid, name, state, parent;
    if (stat >> pid >> name >> state >> parent && state == "Z" &&
        parent == std::to_string(getpid())) {
      ++zombies;
    }
  }
  EXPECT_EQ(zombies, 0);
}

// The agent follows the program it started, though it is not its child.
TEST_F(LauncherTest, TheStartedProgramIsFollowedUntilItEnds) {
  const std::string out = dir + "/out";
  const std::string program = Script("read line < " + dir + "/gate; touch " + out + ".done\n");
  ASSERT_EQ(mkfifo((dir + "/gate").c_str(), 0600), 0);
  const LaunchResult started = PlatformLauncher().Launch(program);
  ASSERT_TRUE(started.Started());
  ASSERT_NE(started.program, nullptr);
  EXPECT_TRUE(started.program->Running());
  std::ofstream(dir + "/gate") << "go\n";  // blocks until the program opens it
  ASSERT_NE(WaitForFile(out + ".done"), "timeout");
  bool ended = false;
  for (int i = 0; i < 500 && !ended; ++i) {
    ended = !started.program->Running();
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(ended);
}

TEST_F(LauncherTest, MissingOrNotExecutableProgramIsNotStarted) {
  const LaunchResult missing = PlatformLauncher().Launch(dir + "/none/Sendrik.exe");
  EXPECT_EQ(missing.status, LaunchStatus::kFailed);
  EXPECT_NE(missing.reason.find("No such file"), std::string::npos) << missing.reason;
  const std::string path = dir + "/plain";
  std::ofstream(path) << "data";
  EXPECT_EQ(PlatformLauncher().Launch(path).status, LaunchStatus::kFailed);
  // A folder of ours, not one in /tmp: a program directly in a sticky
  // folder is refused before anything else is looked at.
  fs::create_directory(dir + "/folder");
  EXPECT_EQ(PlatformLauncher().Launch(dir + "/folder").status, LaunchStatus::kFailed);
  EXPECT_EQ(PlatformLauncher().Launch("").status, LaunchStatus::kFailed);
}

// The agent runs the mail program as root. Another user who can put a
// program of theirs where it is looked for, or can swap a folder on its
// way, would have root run it.
TEST_F(LauncherTest, AProgramAnotherUserCouldPlaceIsNotRun) {
  LocalUser mallory;
  if (!mallory.Made()) GTEST_SKIP() << "only root can make a second user";
  chmod(dir.c_str(), 0755);
  const std::string ran = dir + "/ran-as-root";
  const std::string payload = "id -u > " + ran + ".new; mv " + ran + ".new " + ran + "\n";
  auto plant = [&](const std::string& folder) {
    return mallory.Run([&] {
      std::ofstream(folder + "/Sendrik.exe") << "#!/bin/sh\n" << payload;
      return chmod((folder + "/Sendrik.exe").c_str(), 0755) == 0 ? 0 : 1;
    });
  };
  auto folder = [&](const std::string& name, mode_t mode) {
    const std::string path = dir + "/" + name;
    mkdir(path.c_str(), 0700);
    chmod(path.c_str(), mode);
    return path;
  };
  struct Case {
    std::string what;
    std::string program;
    std::string expected;  // in the reason
  };
  std::vector<Case> cases;

  // A Path folder every user may write: the program there is hers.
  const std::string open = folder("open", 0777);
  ASSERT_EQ(plant(open), 0);
  cases.push_back({"her program in a folder every user may write", open + "/Sendrik.exe",
                   "is owned by uid " + std::to_string(mallory.uid)});
  // Root's program, but its folder every user may write: she can swap it.
  const std::string swappable = folder("swappable", 0777);
  Script(payload, swappable);
  cases.push_back({"root's program in a folder every user may write", swappable + "/Sendrik.exe",
                   swappable + " can be written by every user"});
  // Her own folder.
  const std::string own = folder("own", 0755);
  ASSERT_EQ(chown(own.c_str(), mallory.uid, mallory.gid), 0);
  ASSERT_EQ(plant(own), 0);
  cases.push_back({"her own folder", own + "/Sendrik.exe", "is owned by uid"});
  // Root's program that her group may write.
  const std::string shared = folder("shared", 0755);
  const std::string groupWritable = Script(payload, shared);
  ASSERT_EQ(chown(groupWritable.c_str(), 0, mallory.gid), 0);
  chmod(groupWritable.c_str(), 0775);
  cases.push_back({"root's program that her group may write", groupWritable,
                   "can be written by group " + std::to_string(mallory.gid)});
  // Root's folder and program, inside a folder she may write: she can
  // rename root's folder away and put one of hers in its place.
  const std::string above = folder("above", 0777);
  const std::string inner = above + "/pelko";
  mkdir(inner.c_str(), 0755);
  cases.push_back({"a folder above that she may write", Script(payload, inner),
                   above + " can be written by every user"});
  // A sticky folder is safe only above the program's own folder: in it
  // she could leave a program of hers, or a link to any of root's.
  const std::string sticky = folder("sticky", 01777);
  cases.push_back({"a sticky folder as the program's own", Script(payload, sticky),
                   sticky + " can be written by every user"});
  // Through a link of hers in a sticky folder to her own folder.
  const std::string tmp = folder("tmp", 01777);
  ASSERT_EQ(mallory.Run([&] { return symlink(own.c_str(), (tmp + "/pelko").c_str()); }), 0);
  cases.push_back({"her link to her folder", tmp + "/pelko/Sendrik.exe", "is owned by uid"});

  for (const Case& c : cases) {
    const LaunchResult result = PlatformLauncher().Launch(c.program);
    EXPECT_EQ(result.status, LaunchStatus::kRefused) << c.what;
    EXPECT_NE(result.reason.find(c.expected), std::string::npos) << c.what << ": " << result.reason;
  }
  // A refused program is never started, so nothing is left to wait for.
  EXPECT_FALSE(fs::exists(ran)) << "ran as " << Slurp(ran);

  // The same folders made safe again: root's program runs.
  chmod(swappable.c_str(), 0755);
  EXPECT_TRUE(PlatformLauncher().Launch(swappable + "/Sendrik.exe").Started());
  EXPECT_EQ(WaitForFile(ran), "0\n");
}

}  // namespace
}  // namespace pelko
