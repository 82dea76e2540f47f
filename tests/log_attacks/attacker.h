// The other side of the attack tests: a second, unprivileged user (named in
// PELKO_ATTACKER by as-attacker.sh) acting in a child process, and a logs
// folder that this user may write, while the test itself is root.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace pelko {

class Attacker {
 public:
  Attacker() {
    const char* name = std::getenv("PELKO_ATTACKER");
    if (const passwd* user = name != nullptr ? getpwnam(name) : nullptr) {
      uid = user->pw_uid;
      gid = user->pw_gid;
    }
  }
  Attacker(const Attacker&) = delete;
  Attacker& operator=(const Attacker&) = delete;
  ~Attacker() { Release(); }

  bool Known() const { return uid != 0; }

  // Runs act as the user in a child; true when it succeeded there. With
  // hold, the child keeps what it opened until Release (at most 30 s).
  bool Do(const std::function<bool()>& act, bool hold = false) {
    int ready[2], release[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) return false;
    pid = fork();
    if (pid == 0) {
      close(ready[0]);
      close(release[1]);
      alarm(30);
      const bool ok = setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0 && act();
      char said = ok ? '1' : '0';
      (void)!write(ready[1], &said, 1);
      if (ok && hold) (void)!read(release[0], &said, 1);
      _exit(ok ? 0 : 1);
    }
    close(ready[1]);
    close(release[0]);
    releaseFd = release[1];
    char said = '0';
    pollfd wait{ready[0], POLLIN, 0};
    if (pid < 0 || poll(&wait, 1, 10000) != 1 || read(ready[0], &said, 1) != 1) said = '0';
    close(ready[0]);
    if (!hold) Release();
    return said == '1';
  }

  void Release() {
    if (releaseFd >= 0) close(releaseFd);
    releaseFd = -1;
    if (pid <= 0) return;
    for (int i = 0; i < 1000; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) {
        pid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }

  uid_t uid = 0;
  gid_t gid = 0;

 private:
  pid_t pid = -1;
  int releaseFd = -1;
};

// A folder of root's with a Logs folder that everyone may write, as a
// careless site might leave it, and a root-only file beside it.
class AttackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || std::getenv("PELKO_ATTACKER") == nullptr) {
      GTEST_SKIP() << "run by as-attacker.sh, as root";
    }
    ASSERT_TRUE(attacker.Known()) << "no such user: " << std::getenv("PELKO_ATTACKER");
    char pattern[] = "/tmp/pelko-attack-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    chmod(folder.c_str(), 0755);
    logs = folder + "/Logs";
    ASSERT_EQ(mkdir(logs.c_str(), 0777), 0);
    chmod(logs.c_str(), 0777);
    secret = folder + "/secret";
    WriteFile(secret, "root only");
    chmod(secret.c_str(), 0600);
  }
  void TearDown() override {
    if (!folder.empty()) (void)!std::system(("rm -rf '" + folder + "'").c_str());
  }

  static void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  Attacker attacker;
  std::string folder, logs, secret;
};

}  // namespace pelko
