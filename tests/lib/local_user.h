// A second, unprivileged user for tests written as an attack: made with
// useradd under a name of its own, removed with userdel when it goes out of
// scope. Only root can make one; Made() is false otherwise.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>

namespace pelko {

class LocalUser {
 public:
  LocalUser() {
    static std::atomic<int> count{0};
    name = "pelkoatk" + std::to_string(getpid()) + "n" + std::to_string(count++);
    if (geteuid() != 0) return;
    if (std::system(("useradd --no-create-home --user-group --shell /usr/sbin/nologin " + name +
                     " >/dev/null 2>&1")
                        .c_str()) != 0) {
      return;
    }
    const passwd* entry = getpwnam(name.c_str());
    if (entry == nullptr) return;
    uid = entry->pw_uid;
    gid = entry->pw_gid;
    made = true;
  }
  ~LocalUser() {
    if (geteuid() == 0) std::system(("userdel " + name + " >/dev/null 2>&1").c_str());
  }
  LocalUser(const LocalUser&) = delete;
  LocalUser& operator=(const LocalUser&) = delete;

  bool Made() const { return made; }

  // Runs attack in a child process with this user's ids only; its result
  // is the child's exit status (-1 if it did not end normally). The child
  // is killed after 20 s.
  int Run(const std::function<int()>& attack) const {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
      alarm(20);
      if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(126);
      _exit(attack());
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;

 private:
  bool made = false;
};

}  // namespace pelko
