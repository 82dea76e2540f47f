#include "agent/logs/global_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent/logs/log_format.h"
#include "agent/logs/log_store.h"
#include "tests/lib/same_log.h"
#include "tests/unit/logs/log_test_fixture.h"

namespace pelko {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kGlobalHead =
    "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' "
    "type='text/xsl' ?><log><type>Global Log</type><date>2026/12/06</date>";

std::string Entry(int id, int cost) {
  return "<entry> <date>2026/12/01</date><time>10:00:00</time> <id>" + std::to_string(id) +
         "</id><user>u</user> <printer>\\\\S\\P</printer><doc>d</doc> <pages>1</pages> <cost>" +
         std::to_string(cost) + "</cost></entry>";
}

std::string Daily(const std::string& entries, int total) {
  return std::string(kLogProlog) + "<log> <type>\\\\S\\P</type> <date>2026/12/01</date>" + entries +
         "<entry><user>Total</user><cost>" + std::to_string(total) + "</cost></entry></log>";
}

class GlobalLogTest : public LogTest {
 protected:
  GlobalLogTest() : globalPath(fake.registry, "Software\\Pelko\\Path") {}
  void Build() { BuildGlobalLog(fake.env, locks, pause, globalPath); }
  std::string Global() { return fake.files.Text(LogPath("GlobalLog")).value_or("<none>"); }

  RegistryStringValue globalPath;
};

TEST_F(GlobalLogTest, WithoutDailyFilesHoldsOnlyAZeroTotal) {
  Build();
  EXPECT_TRUE(
      SameLog(Global(), kGlobalHead + "<entry><user>Total</user><cost>0</cost></entry></log>"));
}

TEST_F(GlobalLogTest, GathersEveryDailyFileDeepestFolderFirstAndSumsTheirTotals) {
  const std::string logs = kLogs;
  fake.files.AddFolder(logs + "\\Old\\Older");
  fake.files.PutFile(logs + "\\A_20261201.xml", Daily(Entry(1, 10) + Entry(2, 20), 30));
  fake.files.PutFile(logs + "\\B_20261202.xml", Daily(Entry(3, 5), 5));
  fake.files.PutFile(logs + "\\Old\\C_20261101.xml", Daily(Entry(4, 1), 1));
  fake.files.PutFile(logs + "\\Old\\Older\\D_20261001.xml", Daily(Entry(5, 2), 2));
  // Cut short before its Total entry: its entries and their sum.
  fake.files.PutFile(logs + "\\E_20261203.xml", std::string(kLogProlog) +
                                                    "<log> <type>x</type> <date>2026/12/03</date>" +
                                                    Entry(6, 3) + Entry(7, 4) + "<entry> <date>20");
  for (const char* skipped :
       {"GlobalLog_20261205.xml", "AllDay_20261205.xml", "Aggregate.xml", "notes.txt"}) {
    fake.files.PutFile(logs + "\\" + skipped, Daily(Entry(666, 1000), 1000));
  }
  Build();
  EXPECT_TRUE(SameLog(Global(), kGlobalHead + Entry(5, 2) + Entry(4, 1) + Entry(1, 10) +
                                    Entry(2, 20) + Entry(3, 5) + Entry(6, 3) + Entry(7, 4) +
                                    "<entry><user>Total</user><cost>45</cost></entry></log>"));
  // Rebuilt the same day: replaced, the earlier global log not gathered.
  Build();
  EXPECT_THAT(Global(), HasSubstr("<cost>45</cost></entry></log>"));
  EXPECT_EQ(fake.files.FilesUnder(logs).size(), 10u);
}

// A file holding only a Total of -2000000000 once drove the grand total,
// and the mail's, to -1 998 648 420: a Total counts only when the file's
// entries could give it.
// Rebuilt whole, the global log takes LogUtf8's encoding now and moves each
// daily log's names to it.
TEST_F(GlobalLogTest, DailyLogsOfEitherEncodingComeInTheGlobalLogsOwn) {
  const std::string logs = kLogs;
  auto entry = [](const std::string& user) {
    return "<entry> <date>2026/12/01</date><time>10:00:00</time> <id>1</id><user>" + user +
           "</user> <printer>P</printer><doc>d</doc> <pages>1</pages> <cost>1</cost></entry>";
  };
  std::string utf8 = Daily(entry("\xC5\x81ukasz \xC3\xBC"), 1);
  utf8.replace(0, kXmlDeclaration.size(), kXmlDeclarationUtf8);
  fake.files.PutFile(logs + "\\A_20261201.xml", utf8);
  fake.files.PutFile(logs + "\\B_20261201.xml", Daily(entry("j\xFC"), 1));
  Build();
  EXPECT_THAT(Global(), StartsWith(std::string(kXmlDeclaration)));
  EXPECT_THAT(Global(), HasSubstr("<user>?ukasz \xFC</user>"));
  EXPECT_THAT(Global(), HasSubstr("<user>j\xFC</user>"));
  fake.registry.PutDword("Software\\Pelko\\LogUtf8", 1);
  Build();
  EXPECT_THAT(Global(), StartsWith(std::string(kXmlDeclarationUtf8)));
  EXPECT_THAT(Global(), HasSubstr("<user>\xC5\x81ukasz \xC3\xBC</user>"));
  EXPECT_THAT(Global(), HasSubstr("<user>j\xC3\xBC</user>"));
}

TEST_F(GlobalLogTest, ATotalItsEntriesCannotGiveIsReplacedByTheirSumAndSaid) {
  const std::string logs = kLogs;
  fake.files.PutFile(logs + "\\A_20261201.xml", Daily(Entry(1, 10) + Entry(2, 20), 30));
  fake.files.PutFile(logs + "\\B_20261202.xml", Daily("", -2000000000));
  fake.files.PutFile(logs + "\\C_20261202.xml", Daily(Entry(3, 5) + Entry(4, -2), 99));
  fake.files.PutFile(logs + "\\D_20261202.xml", Daily(Entry(5, 5) + Entry(6, -2), 5));
  Build();
  EXPECT_THAT(Global(), HasSubstr("<entry><user>Total</user><cost>38</cost></entry></log>"));
  EXPECT_EQ(fake.logger.Count("B_20261202.xml has a Total of -2000000000 that its entries "
                              "cannot give: the global log counts their sum, 0"),
            1);
  EXPECT_EQ(fake.logger.Count("C_20261202.xml has a Total of 99"), 1);
  EXPECT_EQ(fake.logger.KindOf("C_20261202.xml has a Total"), EventKind::kLogTotalWrong);
  EXPECT_EQ(fake.logger.Lines().size(), 2u);
}

TEST_F(GlobalLogTest, OnlyTheFileNameIsTestedForTheSkippedWords) {
  fake.registry.PutString("Software\\Pelko\\Path", "C:\\Global\\Pelko");
  RegistryStringValue path(fake.registry, "Software\\Pelko\\Path");
  fake.files.AddFolder("C:\\Global\\Pelko\\Logs");
  fake.files.PutFile("C:\\Global\\Pelko\\Logs\\A_20261201.xml", Daily(Entry(1, 10), 10));
  BuildGlobalLog(fake.env, locks, pause, path);
  EXPECT_THAT(fake.files.Text("C:\\Global\\Pelko\\Logs\\GlobalLog_20261206.xml").value_or(""),
              HasSubstr(Entry(1, 10) + "<entry><user>Total</user><cost>10</cost>"));
}

TEST_F(GlobalLogTest, ListsTheFolderOfTheStartAndWritesIntoTheFolderOfNow) {
  fake.files.PutFile(LogPath("A"), Daily(Entry(1, 10), 10));
  ASSERT_EQ(globalPath.Get(), "C:\\Pelko");
  fake.registry.PutString("Software\\Pelko\\Path", "C:\\New");
  fake.files.AddFolder("C:\\New\\Logs");
  Build();
  EXPECT_FALSE(fake.files.Exists(LogPath("GlobalLog")));
  EXPECT_THAT(fake.files.Text("C:\\New\\Logs\\GlobalLog_20261206.xml").value_or(""),
              HasSubstr(Entry(1, 10)));
}

TEST_F(GlobalLogTest, AHeldDailyFileIsTriedAgainAndAHeldGlobalLogIsLeftAsItWas) {
  fake.files.PutFile(LogPath("A"), Daily(Entry(1, 10), 10));
  fake.files.PutFile(LogPath("B"), Daily(Entry(2, 20), 20));
  fake.files.BusyFor(LogPath("A"), 3);
  fake.files.Hold(LogPath("B"));
  Build();
  EXPECT_TRUE(SameLog(Global(), kGlobalHead + Entry(1, 10) +
                                    "<entry><user>Total</user><cost>10</cost></entry></log>"));

  const std::string before = Global();
  fake.files.Release(LogPath("B"));
  fake.files.Hold(LogPath("GlobalLog"));
  Build();
  EXPECT_TRUE(SameLog(Global(), before));
  EXPECT_EQ(fake.files.FilesUnder(kLogs).size(), 3u);  // no temporary file left
}

TEST_F(GlobalLogTest, AHugeOrOddFileIsLeftOutAndSaidWithoutRetries) {
  fake.files.PutFile(LogPath("A"), Daily(Entry(1, 10), 10));
  fake.files.PutSized(LogPath("big"), uint64_t{1} << 40);  // sparse, 1 TB
  fake.files.PutNonRegular(LogPath("zero"));               // a link to /dev/zero
  Build();
  EXPECT_TRUE(SameLog(Global(), kGlobalHead + Entry(1, 10) +
                                    "<entry><user>Total</user><cost>10</cost></entry></log>"));
  EXPECT_EQ(fake.files.Reads(LogPath("big")), 1);
  EXPECT_EQ(fake.files.Reads(LogPath("zero")), 1);
  EXPECT_EQ(fake.logger.Count(LogPath("big") + " is over 64 MiB"), 1);
  EXPECT_EQ(fake.logger.Count(LogPath("zero") + " is a link"), 1);
}

// Files gathered from everywhere below the logs folder once made a global
// log of hundreds of MB at every build; it stops short of what a read of
// it takes in, and says which file it left out.
TEST_F(GlobalLogTest, AFileThatWouldTakeItPastTheCapIsLeftOutAndSaid) {
  const std::string logs = kLogs;
  const std::string doc(60000, 'd');
  std::string entries;
  for (int id = 1; entries.size() < kMaxGlobalLogBytes / 2 + 1000; ++id) {
    std::string entry = Entry(id, 1);
    entry.replace(entry.find("<doc>d<") + 5, 1, doc);
    entries += entry;
  }
  fake.files.PutFile(logs + "\\A_20261201.xml", Daily(entries, 0));
  fake.files.PutFile(logs + "\\B_20261202.xml", Daily(entries, 0));
  fake.files.PutFile(logs + "\\C_20261203.xml", Daily(Entry(9999, 7), 7));
  Build();
  const std::string global = Global();
  EXPECT_LE(global.size(), kMaxTextFileBytes);
  EXPECT_THAT(global, HasSubstr("<id>9999</id>"));
  EXPECT_EQ(fake.logger.Count("B_20261202.xml left out"), 1);
  EXPECT_EQ(fake.logger.KindOf("B_20261202.xml left out"), EventKind::kGlobalLogFull);
  EXPECT_EQ(fake.logger.Lines().size(), 1u);
}

}  // namespace
}  // namespace pelko
