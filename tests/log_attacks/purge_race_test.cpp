// The purge against a user who swaps a folder it is working in for a link,
// at the worst moment: after the listing, before the delete.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pelko
