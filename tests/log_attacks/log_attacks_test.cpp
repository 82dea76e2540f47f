// Root's file layer against a user who may write the logs folder.
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "agent/logs/global_log.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_store.h"
#include "agent/logs/record_job.h"
#include "tests/lib/log_test_env.h"
#include "tests/lib/same_log.h"
#include "tests/log_attacks/attacker.h"

namespace pelko {
namespace {

class LogAttackTest : public AttackTest {
 protected:
  void SetUp() override {
    AttackTest::SetUp();
    if (IsSkipped()) return;
    real = std::make_unique<RealLogEnv>(folder);
  }

  std::string Today(const std::string& base) {
    return LogStore(real->env).ComposePath(base, "xml");
  }
  void Record(const std::string& printer, int32_t id, int32_t cost) {
    RecordJob(real->env, real->locks, real->pause,
              {printer, id, "anna", "doc", 1, cost, PlatformClock().Now()});
  }
  void BuildGlobal() {
    RegistryStringValue path(real->registry, "Software\\Pelko\\Path");
    BuildGlobalLog(real->env, real->locks, real->pause, path);
  }
  // A regular file of root's, only root may write it, and it is no link.
  static void ExpectRootsOwnLog(const std::string& path) {
    struct stat info;
    ASSERT_EQ(lstat(path.c_str(), &info), 0) << path;
    EXPECT_TRUE(S_ISREG(info.st_mode)) << path;
    EXPECT_EQ(info.st_uid, 0u) << path;
    EXPECT_EQ(info.st_mode & 07777, 0640u) << path;
    EXPECT_EQ(info.st_nlink, 1u) << path;
  }

  std::unique_ptr<RealLogEnv> real;
};

// A link at the temporary name once made root truncate and fill the file it
// named, and the log became the link.
TEST_F(LogAttackTest, ALinkPlantedAtTheTemporaryNameIsNeverWrittenThrough) {
  const std::string office = Today("Office"), global = Today("GlobalLog");
  ASSERT_TRUE(attacker.Do([&] {
    return symlink(secret.c_str(), (office + ".tmp").c_str()) == 0 &&
           symlink(secret.c_str(), (global + ".tmp").c_str()) == 0;
  }));
  Record("\\\\SRV\\Office", 7, 15);
  BuildGlobal();
  EXPECT_EQ(ReadFile(secret), "root only");
  ExpectRootsOwnLog(office);
  ExpectRootsOwnLog(global);
  EXPECT_NE(ReadFile(global).find("<id>7</id>"), std::string::npos);
  EXPECT_FALSE(real->env.files->Exists(office + ".tmp"));
}

// A user's own temporary file once became the log: theirs, mode 0666, so
// they could edit their costs.
TEST_F(LogAttackTest, AUsersOwnTemporaryFileNeverBecomesTheLog) {
  const std::string office = Today("Office");
  ASSERT_TRUE(attacker.Do([&] {
    const int fd = open((office + ".tmp").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    return fd >= 0 && fchmod(fd, 0666) == 0 && close(fd) == 0;
  }));
  Record("\\\\SRV\\Office", 7, 15);
  ExpectRootsOwnLog(office);
  EXPECT_FALSE(attacker.Do([&] { return open(office.c_str(), O_WRONLY) >= 0; }));
}

// A log that is a link was read: root-only text went into the global log.
TEST_F(LogAttackTest, ALogThatIsALinkIsNotReadNorFollowed) {
  const std::string office = Today("Office");
  const std::string stolen = std::string(kLogProlog) +
                             "<log> <type>x</type> <date>2026/12/06</date><entry> "
                             "<date>2026/12/06</date><time>09:00:00</time> <id>4242</id>"
                             "<user>root</user> <printer>x</printer><doc>secret</doc> "
                             "<pages>1</pages> <cost>777</cost></entry>"
                             "<entry><user>Total</user><cost>777</cost></entry></log>";
  WriteFile(secret, stolen);
  ASSERT_TRUE(attacker.Do([&] { return symlink(secret.c_str(), office.c_str()) == 0; }));
  std::string text;
  EXPECT_EQ(real->env.files->ReadText(office, &text), FileStatus::kNotRegular);
  Record("\\\\SRV\\Office", 7, 15);
  BuildGlobal();
  EXPECT_TRUE(SameLog(ReadFile(secret), stolen));
  EXPECT_EQ(ReadFile(Today("GlobalLog")).find("4242"), std::string::npos);
}

// A reader's flock on the log once kept the agent from writing it, and the
// job's pages were never billed.
TEST_F(LogAttackTest, AReaderHoldingALockOnALogDoesNotKeepTheAgentOut) {
  const std::string office = Today("Office");
  Record("\\\\SRV\\Office", 7, 15);
  ASSERT_EQ(chmod(office.c_str(), 0644), 0);
  ASSERT_TRUE(attacker.Do(
      [&] {
        const int fd = open(office.c_str(), O_RDONLY);
        return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
      },
      /*hold=*/true));
  std::string text;
  EXPECT_EQ(real->env.files->ReadText(office, &text), FileStatus::kOk);
  Record("\\\\SRV\\Office", 8, 5);
  EXPECT_NE(ReadFile(office).find("<id>8</id>"), std::string::npos);
  // Nor can the user reach the agent's own locks.
  EXPECT_FALSE(attacker.Do([] {
    const int fd = open("/run/pelko-locks", O_RDONLY | O_DIRECTORY);
    return fd >= 0 && openat(fd, "x", O_RDWR | O_CREAT, 0600) >= 0;
  }));
  attacker.Release();
}

// What this process has mapped now. A child's bound is set above it: under
// AddressSanitizer the shadow memory alone is terabytes of address space.
rlim_t AddressSpaceInUse() {
  std::ifstream statm("/proc/self/statm");
  rlim_t pages = 0;
  statm >> pages;
  return pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

// A sparse 1 TB file, a link to /dev/zero and a pipe among the logs once
// ended the e-mail worker after its memory rose past 1 GB. Built in a child
// whose memory may grow by 512 MB only, so that a failure cannot take the
// machine's.
TEST_F(LogAttackTest, EndlessOrOddFilesAreLeftOutOfTheGlobalLog) {
  Record("\\\\SRV\\Office", 7, 15);
  ASSERT_TRUE(attacker.Do([&] {
    const int big = open(Today("big").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return big >= 0 && ftruncate(big, off_t{1} << 40) == 0 &&
           symlink("/dev/zero", Today("zero").c_str()) == 0 &&
           mkfifo(Today("pipe").c_str(), 0666) == 0;
  }));
  const rlim_t bound = AddressSpaceInUse() + (rlim_t{512} << 20);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const rlimit memory{bound, bound};
    setrlimit(RLIMIT_AS, &memory);
    alarm(60);
    try {
      BuildGlobal();
    } catch (...) {
      _exit(2);  // never back into the test runner in a forked child
    }
    _exit(0);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  const std::string global = ReadFile(Today("GlobalLog"));
  EXPECT_NE(global.find("<id>7</id>"), std::string::npos);
  EXPECT_NE(global.find("<user>Total</user><cost>15</cost>"), std::string::npos);
  std::string text;
  EXPECT_EQ(real->env.files->ReadText(Today("big"), &text), FileStatus::kNotOurs);
  EXPECT_EQ(real->env.files->ReadText(Today("zero"), &text), FileStatus::kNotRegular);
  EXPECT_EQ(real->env.files->ReadText(Today("pipe"), &text), FileStatus::kNotRegular);
}

// The user's own file at today's name, claiming a victim's 1000-page job,
// was taken in: after the next real job it sat in root's log.
TEST_F(LogAttackTest, AFilePlantedAtTodaysNameIsMovedAsideNotAdopted) {
  const std::string office = Today("Office");
  const std::string planted = std::string(kLogProlog) +
                              "<log> <type>x</type> <date>2026/12/06</date><entry> "
                              "<date>2026/12/06</date><time>09:00:00</time> <id>99</id>"
                              "<user>victim</user> <printer>x</printer><doc>d</doc> "
                              "<pages>1000</pages> <cost>5000</cost></entry>"
                              "<entry><user>Total</user><cost>5000</cost></entry></log>";
  ASSERT_TRUE(attacker.Do([&] {
    std::ofstream(office, std::ios::binary) << planted;
    return chmod(office.c_str(), 0644) == 0;
  }));
  Record("\\\\SRV\\Office", 7, 15);
  ExpectRootsOwnLog(office);
  EXPECT_EQ(ReadFile(office).find("victim"), std::string::npos);
  EXPECT_NE(ReadFile(office).find("<user>Total</user><cost>15</cost>"), std::string::npos);
  EXPECT_TRUE(SameLog(ReadFile(office + ".refused"), planted));
  BuildGlobal();
  EXPECT_EQ(ReadFile(Today("GlobalLog")).find("victim"), std::string::npos);
}

// A folder, or a mode-000 file of the user's, at the day's name once kept
// every job of that printer from being recorded.
TEST_F(LogAttackTest, AFolderOrAnUnreadableFileAtTodaysNameDoesNotStopTheRecording) {
  const std::string office = Today("Office"), front = Today("Front");
  ASSERT_TRUE(attacker.Do([&] {
    const int fd = open(front.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0);
    return mkdir(office.c_str(), 0777) == 0 && fd >= 0 && fchmod(fd, 0) == 0;
  }));
  EXPECT_TRUE(RecordJob(real->env, real->locks, real->pause,
                        {"\\\\SRV\\Office", 7, "anna", "doc", 1, 15, PlatformClock().Now()}));
  EXPECT_TRUE(RecordJob(real->env, real->locks, real->pause,
                        {"\\\\SRV\\Front", 8, "anna", "doc", 1, 5, PlatformClock().Now()}));
  ExpectRootsOwnLog(office);
  ExpectRootsOwnLog(front);
  EXPECT_NE(ReadFile(front).find("<id>8</id>"), std::string::npos);
  struct stat info;
  ASSERT_EQ(lstat((office + ".refused").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
}

// One file hard-linked 60 times (where the system lets anyone link others'
// files) made root write a global log 60 times its size at every build.
TEST_F(LogAttackTest, AFileWithManyNamesIsGatheredOnce) {
  Record("\\\\SRV\\Office", 7, 15);
  ASSERT_EQ(mkdir((logs + "/copies").c_str(), 0755), 0);
  for (int i = 0; i < 60; ++i) {
    const std::string copy = logs + "/copies/C" + std::to_string(i) + "_20261206.xml";
    ASSERT_EQ(link(Today("Office").c_str(), copy.c_str()), 0);
  }
  BuildGlobal();
  const std::string global = ReadFile(Today("GlobalLog"));
  EXPECT_EQ(global.find("<id>7</id>"), global.rfind("<id>7</id>"));
  EXPECT_NE(global.find("<user>Total</user><cost>15</cost>"), std::string::npos);
}

}  // namespace
}  // namespace pelko
