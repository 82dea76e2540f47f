#include "agent/platform/launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace pelko {
namespace {

namespace fs = std::filesystem;

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelko-launch-XXXXXX";
    dir = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Script(const std::string& body) {
    const std::string path = dir + "/Sendrik.exe";
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
    return path;
  }
  std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(path + ".done");
      if (in) {
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "timeout";
  }

  std::string dir;
};

TEST_F(LauncherTest, StartsTheProgramWithoutArgumentsInOurFolder) {
  const std::string out = dir + "/out";
  const std::string program = Script("echo \"$#:$(pwd)\" > " + out + "; touch " + out + ".done\n");
  ASSERT_TRUE(PlatformLauncher().Launch(program));
  EXPECT_EQ(WaitForFile(out), "0:" + fs::current_path().string() + "\n");
}

TEST_F(LauncherTest, TheProgramInheritsNeitherBlockedSignalsNorOpenFiles) {
  sigset_t quit, old;
  sigemptyset(&quit);
  sigaddset(&quit, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &quit, &old);
  const int held = open((dir + "/held").c_str(), O_CREAT | O_RDWR, 0644);  // no CLOEXEC
  const std::string out = dir + "/out";
  const std::string program = Script(
      "grep SigBlk /proc/self/status | cut -f2 > " + out + "; ls /proc/self/fd | wc -l >> " + out +
      "; touch " + out + ".done\n");
  ASSERT_TRUE(PlatformLauncher().Launch(program));
  const std::string seen = WaitForFile(out);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(held);
  EXPECT_EQ(seen.substr(0, seen.find('\n')), "0000000000000000");
  // stdin, stdout, stderr and the one ls opens to list them
  EXPECT_LE(std::atoi(seen.substr(seen.find('\n') + 1).c_str()), 4);
}

TEST_F(LauncherTest, LeavesNoZombie) {
  const std::string program = Script("exit 0\n");
  ASSERT_TRUE(PlatformLauncher().Launch(program));
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

TEST_F(LauncherTest, MissingOrNotExecutableProgramIsNotStarted) {
  EXPECT_FALSE(PlatformLauncher().Launch(dir + "/none/Sendrik.exe"));
  const std::string path = dir + "/plain";
  std::ofstream(path) << "data";
  EXPECT_FALSE(PlatformLauncher().Launch(path));
  EXPECT_FALSE(PlatformLauncher().Launch(""));
}

}  // namespace
}  // namespace pelko
