// Root's file layer against a user who may write the logs folder.
#include <sys/file.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "agent/logs/global_log.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_store.h"
#include "agent/logs/record_job.h"
#include "tests/lib/log_test_env.h"
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
    RecordJob(real->env, real->locks, real->pause, printer, id, "anna", "doc", 1, cost,
              PlatformClock().Now());
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
  EXPECT_EQ(ReadFile(secret), stolen);
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

// A sparse 1 TB file, a link to /dev/zero and a pipe among the logs once
// ended the e-mail worker after its memory rose past 1 GB. Built in a child
// with bounded memory, so that a failure cannot take the machine's.
TEST_F(LogAttackTest, EndlessOrOddFilesAreLeftOutOfTheGlobalLog) {
  Record("\\\\SRV\\Office", 7, 15);
  ASSERT_TRUE(attacker.Do([&] {
    const int big = open(Today("big").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return big >= 0 && ftruncate(big, off_t{1} << 40) == 0 &&
           symlink("/dev/zero", Today("zero").c_str()) == 0 &&
           mkfifo(Today("pipe").c_str(), 0666) == 0;
  }));
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const rlimit memory{uint64_t{512} << 20, uint64_t{512} << 20};
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
  EXPECT_EQ(real->env.files->ReadText(Today("big"), &text), FileStatus::kTooLarge);
  EXPECT_EQ(real->env.files->ReadText(Today("zero"), &text), FileStatus::kNotRegular);
  EXPECT_EQ(real->env.files->ReadText(Today("pipe"), &text), FileStatus::kNotRegular);
}

}  // namespace
}  // namespace pelko
