// The mail program's log, run as root, against a user who may write the logs
// folder: whatever they put at its name, root writes nowhere else.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sendrik/sendrik_log.h"
#include "tests/log_attacks/attacker.h"

namespace pelko::mail {
namespace {

class SendrikLogAttack : public AttackTest {
 protected:
  std::string Log() const { return logs + "/" + kLogName; }

  // Write in a child, so that a log that blocks the program fails the test
  // instead of hanging it: true when the child ended by itself.
  bool WriteEnds(const std::string& line) {
    const pid_t child = fork();
    if (child == 0) {
      alarm(10);
      SendrikLog(logs).Write(line);
      _exit(0);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status);
  }
};

// Root once appended its status line, with a server's text in it, to any
// file that a link at Sendrik.log named (/etc/ld.so.preload, Values.reg).
TEST_F(SendrikLogAttack, ALinkAtTheLogsNameIsNotWrittenThrough) {
  ASSERT_TRUE(attacker.Do([&] { return symlink(secret.c_str(), Log().c_str()) == 0; }));
  std::vector<std::string> said;
  SendrikLog(logs, [&](const std::string& why) {
    said.push_back(why);
  }).Write("not sent: 550 x\n/home/user/libevil.so");
  EXPECT_EQ(ReadFile(secret), "root only");
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("is a link"), std::string::npos) << said[0];
}

// A pipe at the name held the program in its open for ever, and four of
// them outlived the agent.
TEST_F(SendrikLogAttack, APipeAtTheLogsNameNeitherBlocksNorIsWritten) {
  ASSERT_TRUE(attacker.Do([&] { return mkfifo(Log().c_str(), 0666) == 0; }));
  EXPECT_TRUE(WriteEnds("sent"));
  // With a reader waiting at the other end, nothing reaches it either.
  ASSERT_TRUE(attacker.Do([&] { return open(Log().c_str(), O_RDONLY | O_NONBLOCK) >= 0; },
                          /*hold=*/true));
  std::string why;
  EXPECT_FALSE(AppendToSendrikLog(logs, "sent\n", &why));
  EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
  attacker.Release();
}

// A file of the user's, or another name of root's own file, is not the log.
TEST_F(SendrikLogAttack, AFileNotOursOrWithAnotherNameIsLeftAlone) {
  ASSERT_TRUE(attacker.Do([&] {
    const int fd = open(Log().c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    return fd >= 0 && fchmod(fd, 0666) == 0 && close(fd) == 0;
  }));
  std::string why;
  EXPECT_FALSE(AppendToSendrikLog(logs, "sent\n", &why));
  EXPECT_NE(why.find("belongs to user"), std::string::npos) << why;
  EXPECT_EQ(ReadFile(Log()), "");
  ASSERT_EQ(unlink(Log().c_str()), 0);
  // Where hard links to others' files are allowed, one could stand here.
  ASSERT_EQ(link(secret.c_str(), Log().c_str()), 0);
  EXPECT_FALSE(AppendToSendrikLog(logs, "sent\n", &why));
  EXPECT_EQ(ReadFile(secret), "root only");
}

// Made under a 022 umask the log was 0644: the group and others need not
// read what the server said.
TEST_F(SendrikLogAttack, ANewLogIsRootsAndNotWiderThan0640) {
  for (const mode_t mask : {mode_t{022}, mode_t{0}}) {
    unlink(Log().c_str());
    const mode_t saved = umask(mask);
    SendrikLog(logs).Write(
        "sent \x9B"
        "31m");
    umask(saved);
    struct stat info;
    ASSERT_EQ(lstat(Log().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_NE(ReadFile(Log()).find("sent \\x9B31m\n"), std::string::npos) << ReadFile(Log());
  }
  EXPECT_FALSE(attacker.Do([&] { return open(Log().c_str(), O_RDONLY) >= 0; }));
}

// A full log moves aside by name: a link planted at the old name is
// replaced, never written through.
TEST_F(SendrikLogAttack, RotationReplacesALinkAtTheOldName) {
  SendrikLog(logs).Write(std::string(kLogLimit, 'x'));
  ASSERT_TRUE(attacker.Do(
      [&] { return symlink(secret.c_str(), (logs + "/" + kOldLogName).c_str()) == 0; }));
  SendrikLog(logs).Write("sent");
  EXPECT_EQ(ReadFile(secret), "root only");
  struct stat info;
  ASSERT_EQ(lstat((logs + "/" + kOldLogName).c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_GT(static_cast<uint64_t>(info.st_size), kLogLimit);
  EXPECT_LT(ReadFile(Log()).size(), 100u);
}

// A folder at the old name cannot be replaced: the full log is then left
// as it is rather than grow without end.
TEST_F(SendrikLogAttack, AFolderAtTheOldNameDoesNotLetTheLogGrowWithoutEnd) {
  SendrikLog(logs).Write(std::string(kLogLimit, 'x'));
  ASSERT_TRUE(attacker.Do([&] {
    return mkdir((logs + "/" + kOldLogName).c_str(), 0755) == 0 &&
           std::ofstream(logs + "/" + kOldLogName + "/keep").good();
  }));
  const std::size_t full = ReadFile(Log()).size();
  std::string why;
  EXPECT_FALSE(AppendToSendrikLog(logs, "sent\n", &why));
  EXPECT_NE(why.find("cannot be moved"), std::string::npos) << why;
  EXPECT_EQ(ReadFile(Log()).size(), full);
}

}  // namespace
}  // namespace pelko::mail
