// The purge and the global log against a user who swaps a folder they are
// working in for a link, at the worst moment: after the listing, before the
// delete or the read.
#include <gtest/gtest.h>

#include "agent/config/registry_value.h"
#include "agent/logs/global_log.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_store.h"
#include "agent/purge/log_purge_thread.h"
#include "tests/lib/log_test_env.h"
#include "tests/log_attacks/attacker.h"

namespace pelko {
namespace {

// The platform's folders, with the attacker's move run once, just before
// the first delete.
class HookedFolder : public Folder {
 public:
  HookedFolder(std::unique_ptr<Folder> real, std::function<void()>* hook)
      : real(std::move(real)), hook(hook) {}
  std::unique_ptr<FileSearch> Find(const std::string& pattern) override {
    return real->Find(pattern);
  }
  std::unique_ptr<Folder> OpenFolder(const std::string& name) override {
    auto sub = real->OpenFolder(name);
    return sub ? std::make_unique<HookedFolder>(std::move(sub), hook) : nullptr;
  }
  FileStatus Delete(const std::string& name) override {
    if (*hook) std::exchange(*hook, nullptr)();
    return real->Delete(name);
  }
  FileStatus ReadText(const std::string& name, std::string* text, FileId* id) override {
    if (*hook) std::exchange(*hook, nullptr)();
    return real->ReadText(name, text, id);
  }
  FileStatus Rename(const std::string& from, const std::string& to) override {
    return real->Rename(from, to);
  }

 private:
  std::unique_ptr<Folder> real;
  std::function<void()>* hook;
};

class HookedFiles : public FileSystem {
 public:
  char Separator() const override { return real.Separator(); }
  bool IsNameByte(unsigned char c) const override { return real.IsNameByte(c); }
  std::unique_ptr<FileSearch> Find(const std::string& pattern) override {
    return real.Find(pattern);
  }
  std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
    auto folder = real.OpenFolder(path);
    return folder ? std::make_unique<HookedFolder>(std::move(folder), &beforeDelete) : nullptr;
  }
  bool Exists(const std::string& path) override { return real.Exists(path); }
  FileStatus ReadText(const std::string& path, std::string* text) override {
    if (beforeDelete) std::exchange(beforeDelete, nullptr)();
    return real.ReadText(path, text);
  }
  FileStatus BeginReplace(const std::string& path,
                          std::unique_ptr<ReplacingWriter>* writer) override {
    return real.BeginReplace(path, writer);
  }
  FileStatus Delete(const std::string& path) override {
    if (beforeDelete) std::exchange(beforeDelete, nullptr)();
    return real.Delete(path);
  }

  // Runs once, before the first delete or read.
  std::function<void()> beforeDelete;

 private:
  FileSystem& real = PlatformFileSystem();
};

// Once, root deleted the victim's file in the folder the link named.
TEST_F(AttackTest, AFolderSwappedForALinkMidPurgeLeavesFilesOutsideTheLogsAlone) {
  const std::string victim = folder + "/victim";
  ASSERT_EQ(mkdir(victim.c_str(), 0755), 0);
  WriteFile(victim + "/Old_20200101.xml", "keep me");
  ASSERT_TRUE(attacker.Do([&] {
    return mkdir((logs + "/A").c_str(), 0755) == 0 &&
           std::ofstream(logs + "/A/Old_20200101.xml").good();
  }));
  HookedFiles files;
  bool moved = false;
  files.beforeDelete = [&] {
    moved = attacker.Do([&] {
      return rename((logs + "/A").c_str(), (logs + "/A.moved").c_str()) == 0 &&
             symlink(victim.c_str(), (logs + "/A").c_str()) == 0;
    });
  };
  RealLogEnv real(folder);
  real.env.files = &files;
  PurgeLogs(real.env, real.locks, logs, 7, LocalTime{2026, 12, 6, 9, 0, 0, 0});
  ASSERT_TRUE(moved);
  EXPECT_EQ(ReadFile(victim + "/Old_20200101.xml"), "keep me");
  // Deleted where it was listed.
  EXPECT_FALSE(PlatformFileSystem().Exists(logs + "/A.moved/Old_20200101.xml"));
}

// A subfolder swapped for a link to a root-only folder once the build had
// listed it: a root-only log's entry was copied into a global log that the
// group can read.
TEST_F(AttackTest, AFolderSwappedForALinkWhileTheGlobalLogIsBuiltLeadsNowhereElse) {
  const std::string entry =
      "<entry> <date>2026/12/06</date><time>09:00:00</time> <id>ID</id><user>U</user> "
      "<printer>x</printer><doc>D</doc> <pages>1</pages> <cost>1</cost></entry>";
  const auto log = [&](const std::string& id, const std::string& user, const std::string& doc) {
    std::string text = std::string(kLogProlog) + "<log> <type>x</type> <date>2026/12/06</date>" +
                       entry + "<entry><user>Total</user><cost>1</cost></entry></log>";
    text.replace(text.find("ID"), 2, id);
    text.replace(text.find(">U<") + 1, 1, user);
    text.replace(text.find(">D<") + 1, 1, doc);
    return text;
  };
  const std::string hidden = folder + "/private";
  ASSERT_EQ(mkdir(hidden.c_str(), 0700), 0);
  WriteFile(hidden + "/Front_20261206.xml", log("4242", "ceo", "merger-plan-ACME.pdf"));
  ASSERT_EQ(mkdir((logs + "/A").c_str(), 0755), 0);
  WriteFile(logs + "/A/Front_20261206.xml", log("8", "anna", "doc"));
  HookedFiles files;
  bool swapped = false;
  files.beforeDelete = [&] {
    swapped = attacker.Do([&] {
      return rename((logs + "/A").c_str(), (logs + "/A.moved").c_str()) == 0 &&
             symlink(hidden.c_str(), (logs + "/A").c_str()) == 0;
    });
  };
  RealLogEnv real(folder);
  real.env.files = &files;
  RegistryStringValue path(real.registry, "Software\\Pelko\\Path");
  BuildGlobalLog(real.env, real.locks, real.pause, path);
  ASSERT_TRUE(swapped);
  std::string global;
  ASSERT_EQ(
      PlatformFileSystem().ReadText(LogStore(real.env).ComposePath("GlobalLog", "xml"), &global),
      FileStatus::kOk);
  EXPECT_EQ(global.find("merger-plan"), std::string::npos);
  EXPECT_NE(global.find("<id>8</id>"), std::string::npos);
}

}  // namespace
}  // namespace pelko
