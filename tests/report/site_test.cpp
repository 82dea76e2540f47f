// The report site written into a real folder (the platform's SiteFolder):
// its pages and links, names from print users made safe, whole files, and
// reruns that write nothing.
#include "report/site.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "agent/platform/site_folder.h"
#include "report/site_files.h"

namespace pelko::report {
namespace {

namespace fs = std::filesystem;

const std::string kLong(300, 'W');
const std::string kHebrew = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D";
// Every name a print user could choose that a file name must not take.
const std::vector<std::string> kHostile = {"<script>",  "\"'&<svg onload=alert(1)>",
                                           kLong,       kLong + "x",
                                           kHebrew,     "..",
                                           ".",         "CON",
                                           "con",       "Con",
                                           "nul",       "LPT1",
                                           "a/b",       "a\\b",
                                           "tab\there", "",
                                           "Alice",     "alice",
                                           "ALICE"};

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("pelko-site-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root);
    dir = root / "site";
  }
  void TearDown() override { fs::remove_all(root); }

  // The site of jobs, made as pelkoreport makes it; this month December 2026.
  SitePublisher Run(const std::vector<Job>& jobs, const std::string& inputs = "") {
    std::string error;
    folder = OpenSiteFolder(dir.string(), &error);
    EXPECT_TRUE(folder) << error;
    SiteBuilder site(SiteSettings{"202612", TextEncoding::kUtf8, CostUnit{}, CsvDialect{}, false});
    for (const Job& job : jobs) site.Add(job);
    SitePublisher publisher(*folder);
    site.Publish(publisher);
    EXPECT_TRUE(publisher.Finish(inputs));
    return publisher;
  }

  std::map<std::string, std::string> Files() {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
      std::ifstream in(entry.path(), std::ios::binary);
      files[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
  }

  fs::path root, dir;
  std::unique_ptr<SiteFolder> folder;
};

std::vector<Job> Jobs() {
  std::vector<Job> jobs;
  int id = 0;
  for (const std::string& user : kHostile) {
    jobs.push_back(Job{"2026/12/0" + std::to_string(1 + id % 9), "10:00:00", std::to_string(++id),
                       user, id % 2 ? "Front desk" : "front desk", "doc", id, 2 * id});
  }
  jobs.push_back(Job{"2026/11/30", "09:00:00", "900", "anna", "<b>Lab</b>", "x", 5, 7});
  jobs.push_back(Job{"2025/06/15", "09:00:00", "901", "anna", "Old", "x", 1, 1});
  return jobs;
}

TEST(SiteNames, AnyNameGivesAPlainFileNameOfItsOwnWhateverTheCase) {
  std::set<std::string> seen;
  for (const std::string& name : kHostile) {
    const std::string base = SafeBaseName("user-", name);
    EXPECT_TRUE(std::regex_match(base, std::regex("user-[a-z0-9_-]{0,70}"))) << base;
    EXPECT_EQ(base, SafeBaseName("user-", name)) << "the same name each run";
    EXPECT_TRUE(seen.insert(base).second) << name << " shares " << base;
  }
}

TEST_F(SiteTest, EveryPageIsLinkedBothWaysAndShowsNamesAsText) {
  Run(Jobs());
  const auto files = Files();
  const std::regex href("href=\"([^\"]*)\"");
  std::map<std::string, std::set<std::string>> linksTo;
  int pages = 0;
  for (const auto& [name, text] : files) {
    if (name.size() < 5 || name.substr(name.size() - 5) != ".html") continue;
    ++pages;
    EXPECT_TRUE(files.count(name.substr(0, name.size() - 5) + ".csv")) << name << " has its CSV";
    for (std::sregex_iterator at(text.begin(), text.end(), href), end; at != end; ++at) {
      EXPECT_TRUE(files.count((*at)[1]))
          << name << " links to " << (*at)[1] << ", which is missing";
      linksTo[(*at)[1]].insert(name);
    }
    EXPECT_EQ(text.find("<script"), std::string::npos) << name;
    EXPECT_EQ(text.find("<svg onload"), std::string::npos) << name;
    EXPECT_EQ(text.find("<b>"), std::string::npos) << name;
  }
  // Three months, two years, four printers (two by case alone), 20 users
  // (the long names, the cases and the empty one each of their own), the
  // index.
  EXPECT_EQ(pages, 3 + 2 + 4 + 20 + 1);
  for (const auto& [name, text] : files) {
    if (name.size() < 5 || name.substr(name.size() - 5) != ".html" || name == "index.html")
      continue;
    EXPECT_TRUE(linksTo[name].size() > 1 || linksTo[name].count("index.html"))
        << name << " is reached";
    EXPECT_TRUE(linksTo["index.html"].count(name)) << name << " leads back";
  }
  const std::string& user = files.at(SafeBaseName("user-", "<script>") + ".html");
  EXPECT_NE(user.find("<h1 id=\"printer\">&lt;script&gt;</h1>"), std::string::npos);
  EXPECT_NE(files.at(SafeBaseName("user-", kHebrew) + ".html").find(kHebrew), std::string::npos);
  EXPECT_NE(files.at("index.html").find("This month: December 2026"), std::string::npos);
  EXPECT_NE(files.at("index.csv").find("2026-12,19,"), std::string::npos) << files.at("index.csv");
#ifndef _WIN32
  struct stat info;
  ASSERT_EQ(stat(dir.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  ASSERT_EQ(stat((dir / "index.html").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
#endif
}

TEST_F(SiteTest, ARerunWritesNothingAndAGoneUsersPagesGo) {
  std::vector<Job> jobs = Jobs();
  const SitePublisher first = Run(jobs, "digest-1");
  // A run killed while writing left its temporary file.
  std::ofstream(dir / SiteTemporaryName("index.html")) << "half a pa";
  std::map<std::string, fs::file_time_type> before;
  for (const auto& entry : fs::directory_iterator(dir))
    before[entry.path().filename().string()] = entry.last_write_time();
#ifndef _WIN32
  struct stat index;
  ASSERT_EQ(stat((dir / "index.html").c_str(), &index), 0);
#endif
  const SitePublisher again = Run(jobs, "digest-1");
  EXPECT_EQ(again.written, 0);
  EXPECT_EQ(again.kept, first.written);
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(entry.last_write_time(), before[name]) << name;
    EXPECT_TRUE(name[0] != '.' || name == kSiteStateName) << name << " left behind";
  }
#ifndef _WIN32
  struct stat still;
  ASSERT_EQ(stat((dir / "index.html").c_str(), &still), 0);
  EXPECT_EQ(still.st_ino, index.st_ino);
#endif
  {
    SitePublisher publisher(*folder);
    EXPECT_TRUE(publisher.Current("digest-1"));
    EXPECT_FALSE(publisher.Current("digest-2"));
    fs::remove(dir / "year-2025.csv");
    EXPECT_FALSE(publisher.Current("digest-1")) << "a file gone is made again";
  }
  // anna's jobs gone: the pages of her, of the printers, months and year
  // only she printed in, with their CSV (but the one removed above).
  std::erase_if(jobs, [](const Job& job) { return job.user == "anna"; });
  const SitePublisher gone = Run(jobs, "digest-2");
  EXPECT_EQ(gone.removed, 6 * 2 - 1);
  for (const char* name :
       {"user-anna.html", "user-anna.csv", "year-2025.html", "month-2026-11.csv"}) {
    EXPECT_FALSE(fs::exists(dir / name)) << name;
  }
  EXPECT_TRUE(fs::exists(dir / "index.html"));
}

#ifndef _WIN32
TEST_F(SiteTest, NothingIsWrittenThroughALink) {
  const fs::path outside = root / "outside";
  std::ofstream(outside) << "keep";
  Run({});
  fs::remove(dir / "index.html");
  fs::create_symlink(outside, dir / "index.html");
  fs::create_symlink(outside, dir / SiteTemporaryName("index.csv"));
  SiteBuilder site(SiteSettings{"202612", TextEncoding::kUtf8, CostUnit{}, CsvDialect{}, false});
  SitePublisher publisher(*folder);
  site.Publish(publisher);
  EXPECT_FALSE(publisher.Finish("x"));
  ASSERT_EQ(publisher.Errors().size(), 1u) << publisher.Errors()[1];
  EXPECT_NE(publisher.Errors()[0].find("index.html: a link"), std::string::npos);
  std::ifstream in(outside);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
  EXPECT_TRUE(fs::is_symlink(dir / "index.html"));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "index.csv")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / SiteTemporaryName("index.csv"))));
  EXPECT_FALSE(SitePublisher(*folder).Current("x")) << "a failed run is no state to skip by";
}
#endif

}  // namespace
}  // namespace pelko::report
