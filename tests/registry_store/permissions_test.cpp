// The store decides what the agent runs as root (Path names the mail
// program's folder), so these tests are a second, unprivileged user's
// attempts to change it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "agent/platform/posix/registry_store/registry_store.h"
#include "tests/lib/local_user.h"
#include "tests/registry_store/temp_store.h"

namespace pelko {
namespace {

namespace fs = std::filesystem;

constexpr char kPelko[] = "Software\\Pelko";
const std::string kEvil = "/home/mallory";

int32_t SetPath(FileRegistryStore& store, const std::string& path) {
  RegKey key = nullptr;
  int32_t status = store.CreateKey(RootKey::kLocalMachine, kPelko, kKeyWrite, &key);
  if (status != kErrorSuccess) return status;
  status = store.SetValue(key, "Path", kRegSz, reinterpret_cast<const uint8_t*>(path.c_str()),
                          static_cast<uint32_t>(path.size() + 1));
  store.CloseKey(key);
  return status;
}

int32_t GetPath(FileRegistryStore& store, std::string* path) {
  RegKey key = nullptr;
  int32_t status = store.OpenKey(RootKey::kLocalMachine, kPelko, kKeyRead, &key);
  if (status != kErrorSuccess) return status;
  char data[4096] = {};
  uint32_t size = sizeof data - 1;
  status = store.QueryValue(key, "Path", nullptr, reinterpret_cast<uint8_t*>(data), &size);
  store.CloseKey(key);
  *path = data;
  return status;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class StorePermissionsTest : public TempStoreTest {
 protected:
  void SetUp() override {
    TempStoreTest::SetUp();
    if (!mallory.Made()) GTEST_SKIP() << "only root can make a second user";
    chmod(folder.c_str(), 0755);  // others may look, as under /var/lib
  }

  // pelkoreg run by mallory on store; its exit status.
  int MalloryRunsPelkoreg(const std::string& store, const std::vector<std::string>& args) {
    return mallory.Run([&] {
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      setenv("PELKO_REGISTRY", store.c_str(), 1);
      std::vector<char*> argv = {const_cast<char*>(PELKOREG_PATH)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(PELKOREG_PATH, argv.data());
      return 127;
    });
  }

  // Every way in she tries on a store; how many worked.
  int MalloryAttacks(const std::string& store) {
    const std::string key = store + "/HKEY_LOCAL_MACHINE/software/pelko";
    int worked = 0;
    worked += MalloryRunsPelkoreg(
                  store, {"add", "HKLM\\Software\\Pelko", "/v", "Path", "/d", kEvil, "/f"}) == 0;
    worked += mallory.Run([&] {
      std::ofstream file(key + "/Values.reg", std::ios::app);
      return (file << "\"Path\"=\"" << kEvil << "\"\n") && file.flush() ? 0 : 1;
    }) == 0;
    worked += mallory.Run([&] {
      std::ofstream(key + "/Values.reg.new") << "\"Path\"=\"" << kEvil << "\"\n";
      return rename((key + "/Values.reg.new").c_str(), (key + "/Values.reg").c_str());
    }) == 0;
    worked += mallory.Run([&] {
      return mkdir((store + "/HKEY_LOCAL_MACHINE/software/other").c_str(), 0755);
    }) == 0;
    // Whoever can open the writers' lock can hold it and stop every change.
    worked += mallory.Run([&] {
      const int fd = open((store + "/registry.lock").c_str(), O_RDONLY);
      return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1;
    }) == 0;
    return worked;
  }

  LocalUser mallory;
};

// Made under umask 000, by pelkoreg and by the agent's own writes alike,
// the store is still root's alone.
TEST_F(StorePermissionsTest, MadeUnderUmask000NoOtherUserCanChangeIt) {
  const std::string byTool = folder + "/by-pelkoreg";
  const std::string command = "umask 000; PELKO_REGISTRY=" + byTool + " " + PELKOREG_PATH +
                              " add 'HKLM\\Software\\Pelko' /v Path /d /srv/pelko /f >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string byAgent = folder + "/by-agent";
  const mode_t old = umask(0);
  FileRegistryStore agentStore(byAgent);
  const int32_t set = SetPath(agentStore, "/srv/pelko");
  umask(old);
  ASSERT_EQ(set, kErrorSuccess);

  for (const std::string& store : {byTool, byAgent}) {
    EXPECT_EQ(MalloryAttacks(store), 0) << store;
    FileRegistryStore root(store);
    std::string path;
    EXPECT_EQ(GetPath(root, &path), kErrorSuccess) << store;
    EXPECT_EQ(path, "/srv/pelko") << store;
    EXPECT_EQ(ModeOf(store), 0755u) << store;
    EXPECT_EQ(ModeOf(store + "/HKEY_LOCAL_MACHINE/software/pelko"), 0755u) << store;
    EXPECT_EQ(ModeOf(store + "/HKEY_LOCAL_MACHINE/software/pelko/Values.reg"), 0600u) << store;
    EXPECT_EQ(ModeOf(store + "/registry.lock"), 0600u) << store;
  }
}

// A store left open to others (by an older version, or by hand) is not
// believed: she could have written anything in it. Neither is it written.
TEST_F(StorePermissionsTest, AStoreOthersCouldChangeIsRefusedAndSaidWhy) {
  struct Case {
    std::string what;
    std::function<void(const std::string& store)> loosen;
    std::string reason;  // part of what the store says
  };
  const std::string group = std::to_string(mallory.gid);
  const std::vector<Case> cases = {
      {"Values.reg every user may write",
       [](const std::string& s) {
         chmod((s + "/HKEY_LOCAL_MACHINE/software/pelko/Values.reg").c_str(), 0666);
       },
       "/Values.reg can be written by every user"},
      {"the key's folder every user may write",
       [](const std::string& s) {
         chmod((s + "/HKEY_LOCAL_MACHINE/software/pelko").c_str(), 0777);
       },
       "/pelko/Values.reg is owned by uid"},
      {"a store folder of her group, setgid, as the old notes advised",
       [this](const std::string& s) {
         chown(s.c_str(), 0, mallory.gid);
         chmod(s.c_str(), 02775);
         chmod((s + "/HKEY_LOCAL_MACHINE").c_str(), 02775);
         chown((s + "/HKEY_LOCAL_MACHINE").c_str(), 0, mallory.gid);
       },
       "/HKEY_LOCAL_MACHINE can be written by group " + group},
      {"a store folder she owns",
       [this](const std::string& s) { chown(s.c_str(), mallory.uid, mallory.gid); },
       " is owned by uid " + std::to_string(mallory.uid)},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string store = folder + "/store" + std::to_string(n++);
    {
      FileRegistryStore setup(store);
      ASSERT_EQ(SetPath(setup, "/srv/pelko"), kErrorSuccess);
    }
    c.loosen(store);
    MalloryAttacks(store);
    std::vector<std::string> said;
    FileRegistryStore root(store, [&said](const std::string& why) { said.push_back(why); });
    std::string path;
    EXPECT_EQ(GetPath(root, &path), kErrorAccessDenied) << c.what << ": read " << path;
    EXPECT_EQ(SetPath(root, "/srv/pelko"), kErrorAccessDenied) << c.what;
    ASSERT_FALSE(said.empty()) << c.what;
    EXPECT_NE(said[0].find(c.reason), std::string::npos) << c.what << ": " << said[0];
  }
}

// Left over from a time the folder was open: a link where the lock or the
// temporary file goes must not lead root's writes elsewhere.
TEST_F(StorePermissionsTest, LinksLeftInTheStoreAreNotFollowed) {
  const std::string store = folder + "/store";
  {
    FileRegistryStore setup(store);
    ASSERT_EQ(SetPath(setup, "/srv/pelko"), kErrorSuccess);
  }
  const std::string victim = folder + "/victim";
  std::ofstream(victim) << "root's own";
  chmod(victim.c_str(), 0600);
  const std::string key = store + "/HKEY_LOCAL_MACHINE/software/pelko";
  chmod(key.c_str(), 0777);
  ASSERT_EQ(mallory.Run([&] { return symlink(victim.c_str(), (key + "/Values.reg.new").c_str()); }),
            0);
  chmod(key.c_str(), 0755);  // tightened again, the link forgotten
  FileRegistryStore root(store);
  EXPECT_EQ(SetPath(root, "/srv/other"), kErrorSuccess);
  std::string path;
  EXPECT_EQ(GetPath(root, &path), kErrorSuccess);
  EXPECT_EQ(path, "/srv/other");

  fs::remove(store + "/registry.lock");
  fs::create_symlink(victim, store + "/registry.lock");
  std::vector<std::string> said;
  FileRegistryStore linked(store, [&said](const std::string& why) { said.push_back(why); });
  EXPECT_EQ(SetPath(linked, "/srv/third"), kErrorAccessDenied);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("registry.lock is a symbolic link"), std::string::npos) << said[0];

  std::stringstream text;
  text << std::ifstream(victim).rdbuf();
  EXPECT_EQ(text.str(), "root's own");
  EXPECT_EQ(ModeOf(victim), 0600u);
}

TEST_F(StorePermissionsTest, AnOlderReadableLockIsMadeTheOwnersAlone) {
  const std::string store = folder + "/store";
  FileRegistryStore root(store);
  ASSERT_EQ(SetPath(root, "/srv/pelko"), kErrorSuccess);
  chmod((store + "/registry.lock").c_str(), 0644);
  ASSERT_EQ(SetPath(root, "/srv/other"), kErrorSuccess);
  EXPECT_EQ(ModeOf(store + "/registry.lock"), 0600u);
  EXPECT_EQ(MalloryAttacks(store), 0);
}

// As under a /tmp that every user may write: the store folder in it is
// root's and stays so, since no one else can rename or remove it there.
TEST_F(TempStoreTest, AStoreInAStickyFolderIsUsed) {
  const std::string sticky = folder + "/tmp";
  ASSERT_EQ(mkdir(sticky.c_str(), 0700), 0);
  chmod(sticky.c_str(), 01777);
  FileRegistryStore store(sticky + "/store");
  EXPECT_EQ(SetPath(store, "/srv/pelko"), kErrorSuccess);
  std::string path;
  EXPECT_EQ(GetPath(store, &path), kErrorSuccess);
  EXPECT_EQ(path, "/srv/pelko");
}

}  // namespace
}  // namespace pelko
