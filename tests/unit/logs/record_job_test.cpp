#include "agent/logs/record_job.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent/logs/log_format.h"
#include "agent/logs/log_store.h"
#include "tests/lib/same_log.h"
#include "tests/unit/logs/log_test_fixture.h"

namespace pelko {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kPrinter = "\\\\SRV\\LaserJet";

const std::string kHead =
    "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' "
    "type='text/xsl' ?><log> <type>\\\\SRV\\LaserJet</type> <date>2026/12/06</date>";

std::string Entry(const std::string& time, int id, const std::string& user, const std::string& doc,
                  int pages, int cost, const std::string& printer = "\\\\SRV\\LaserJet") {
  return "<entry> <date>2026/12/06</date><time>" + time + "</time> <id>" + std::to_string(id) +
         "</id><user>" + user + "</user> <printer>" + printer + "</printer><doc>" + doc +
         "</doc> <pages>" + std::to_string(pages) + "</pages> <cost>" + std::to_string(cost) +
         "</cost></entry>";
}

std::string Total(int total) {
  return "<entry><user>Total</user><cost>" + std::to_string(total) + "</cost></entry>";
}

class RecordJobTest : public LogTest {
 protected:
  void Record(int id, const std::string& user, const std::string& doc, int pages, int cost,
              LocalTime stamp = LocalTime{2026, 12, 6, 9, 5, 3, 0},
              const std::string& printer = kPrinter) {
    RecordJob(fake.env, locks, pause, {printer, id, user, doc, pages, cost, stamp});
  }
  std::string Daily() { return fake.files.Text(LogPath("LaserJet")).value_or("<none>"); }
};

TEST_F(RecordJobTest, WritesTheExampleFileByteForByte) {
  Record(7, "paul", "Report.doc", 3, 15, {2026, 12, 6, 9, 5, 3, 0});
  EXPECT_TRUE(SameLog(
      Daily(), kHead + Entry("09:05:03", 7, "paul", "Report.doc", 3, 15) + Total(15) + "</log>"));

  Record(12, "anna", "Budget.xls", 2, 10, {2026, 12, 6, 14, 31, 7, 0});
  const std::string example =
      "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' "
      "type='text/xsl' ?><log> <type>\\\\SRV\\LaserJet</type> <date>2026/12/06</date><entry> "
      "<date>2026/12/06</date><time>14:31:07</time> <id>12</id><user>anna</user> "
      "<printer>\\\\SRV\\LaserJet</printer><doc>Budget.xls</doc> <pages>2</pages> "
      "<cost>10</cost></entry><entry> <date>2026/12/06</date><time>09:05:03</time> "
      "<id>7</id><user>paul</user> <printer>\\\\SRV\\LaserJet</printer><doc>Report.doc</doc> "
      "<pages>3</pages> <cost>15</cost></entry><entry><user>Total</user><cost>25</cost></"
      "entry></log>";
  EXPECT_TRUE(SameLog(Daily(), example));
  EXPECT_EQ(fake.files.FilesUnder(kLogs), std::vector<std::string>{LogPath("LaserJet")});
}

// A job's pages go to its own entry: the newest of its id, printer and
// user. An id the spooler gave again names another job, whose entry never
// takes the earlier job's pages, nor the earlier entry the later job's.
TEST_F(RecordJobTest, AnIdRecordedAgainAddsToItsOwnEntryOnly) {
  fake.files.PutFile(LogPath("LaserJet"), kHead + Entry("11:00:00", 7, "new", "b", 1, 5) +
                                              Entry("10:00:00", 8, "x", "c", 4, 20) +
                                              Entry("08:00:00", 7, "old", "a", 2, 10) + Total(35) +
                                              "</log>");
  Record(7, "new", "ignored", 3, 15);
  const std::string updated = kHead + Entry("11:00:00", 7, "new", "b", 4, 20) +
                              Entry("10:00:00", 8, "x", "c", 4, 20) +
                              Entry("08:00:00", 7, "old", "a", 2, 10) + Total(50) + "</log>";
  EXPECT_TRUE(SameLog(Daily(), updated));

  const std::size_t writes = fake.files.Committed().size();
  Record(7, "new", "b", 0, 0);
  EXPECT_TRUE(SameLog(Daily(), updated)) << "a pass without pages changes nothing";
  EXPECT_EQ(fake.files.Committed().size(), writes);

  Record(7, "doris", "plan.xlsx", 4, 20, {2026, 12, 6, 12, 0, 0, 0});
  // Where the book names the job's entry, that one is its own, made with
  // the book's date and time if it is missing.
  JobRecord claimed{kPrinter, 7, "new", "b", 2, 10, {2026, 12, 6, 13, 0, 0, 0}};
  claimed.entryStamp = "2026/12/06 12:30:00";
  RecordJob(fake.env, locks, pause, claimed);
  claimed.entryStamp = "2026/12/06 08:00:00";
  RecordJob(fake.env, locks, pause, claimed);
  EXPECT_TRUE(SameLog(Daily(), kHead + Entry("12:30:00", 7, "new", "b", 2, 10) +
                                   Entry("12:00:00", 7, "doris", "plan.xlsx", 4, 20) +
                                   Entry("11:00:00", 7, "new", "b", 4, 20) +
                                   Entry("10:00:00", 8, "x", "c", 4, 20) +
                                   Entry("08:00:00", 7, "old", "a", 4, 20) + Total(90) + "</log>"));
}

TEST_F(RecordJobTest, DetailsAreWrittenOnlyWhenAskedForAndKeptUpOnceWritten) {
  JobRecord job{kPrinter, 7, "paul", "Flyer.pdf", 6, 40, {2026, 12, 6, 9, 5, 3, 0}};
  job.colorPages = 2;
  job.monoPages = 4;
  job.copies = 3;
  job.sides = "two-sided-long-edge";
  job.paper = "A4";
  job.client = "pc<12>";
  job.colorFrom = "request";
  RecordJob(fake.env, locks, pause, job);
  // Not asked for: the entry as it always was, and no twin without a database.
  EXPECT_EQ(Daily(),
            kHead + Entry("09:05:03", 7, "paul", "Flyer.pdf", 6, 40) + Total(40) + "</log>");
  const std::string twin = std::string(kLogs) + "\\LaserJet_20261206.details";
  EXPECT_FALSE(fake.files.Text(twin));
  // With a database the twin keeps them for it; the log is unchanged.
  fake.registry.PutString("Software\\Pelko\\DatabaseConnection", "DSN=pelko");
  job.jobId = 6;
  RecordJob(fake.env, locks, pause, job);
  EXPECT_THAT(Daily(), Not(HasSubstr("<copies>")));
  EXPECT_THAT(
      fake.files.Text(twin).value_or(""),
      HasSubstr("<id>6</id><user>paul</user> <printer>\\\\SRV\\LaserJet</printer><doc>Flyer.pdf"
                "</doc> <pages>6</pages> <cost>40</cost> <copies>3</copies>"));
  fake.registry.PutString("Software\\Pelko\\DatabaseConnection", "");
  fake.files.PutFile(LogPath("LaserJet"), kHead + Entry("09:05:03", 7, "paul", "Flyer.pdf", 6, 40) +
                                              Total(40) + "</log>");

  fake.registry.PutDword("Software\\Pelko\\LogJobDetails", 1);
  JobRecord measured{kPrinter, 7, "paul", "Flyer.pdf", 0, 5, {2026, 12, 6, 9, 6, 0, 0}};
  measured.colorPages = 1;
  measured.monoPages = -1;
  measured.colorFrom = "document";
  RecordJob(fake.env, locks, pause, measured);
  // The pages written before the details count mono; the measure moves one.
  const std::string first =
      "<entry> <date>2026/12/06</date><time>09:05:03</time> <id>7</id><user>paul</user> "
      "<printer>\\\\SRV\\LaserJet</printer><doc>Flyer.pdf</doc> <pages>6</pages> <cost>45</cost> "
      "<copies>0</copies><colorpages>1</colorpages><monopages>5</monopages> <sides></sides>"
      "<paper></paper><client></client><colorfrom>document</colorfrom></entry>";
  EXPECT_EQ(Daily(), kHead + first + Total(45) + "</log>");

  job.jobId = 8;
  RecordJob(fake.env, locks, pause, job);
  const std::string second =
      "<entry> <date>2026/12/06</date><time>09:05:03</time> <id>8</id><user>paul</user> "
      "<printer>\\\\SRV\\LaserJet</printer><doc>Flyer.pdf</doc> <pages>6</pages> <cost>40</cost> "
      "<copies>3</copies><colorpages>2</colorpages><monopages>4</monopages> "
      "<sides>two-sided-long-edge</sides><paper>A4</paper><client>pc12</client>"
      "<colorfrom>request</colorfrom></entry>";
  EXPECT_EQ(Daily(), kHead + second + first + Total(85) + "</log>");

  // Read back whole, also by a reader that skips them, and kept when the
  // setting is turned off again.
  std::vector<LogEntry> entries;
  const std::string text = Daily();
  ReadLogEntries(text, &entries);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].hasDetails && entries[0].clean);
  EXPECT_EQ(entries[0].details.client, "pc12");
  EXPECT_EQ(entries[1].details.colorPages, "1");
  fake.registry.PutDword("Software\\Pelko\\LogJobDetails", 0);
  job.pages = 1;
  job.cost = 10;
  job.colorPages = 1;
  job.monoPages = 0;
  RecordJob(fake.env, locks, pause, job);
  EXPECT_THAT(Daily(), HasSubstr("<pages>7</pages> <cost>50</cost> <copies>3</copies>"
                                 "<colorpages>3</colorpages><monopages>4</monopages>"));
}

TEST_F(RecordJobTest, RemovesMarkupAndControlCharactersFromEveryText) {
  Record(3, "o'<b>r&i\"", "a<b>&c'd\"e", 1, 2, {2026, 12, 6, 9, 5, 3, 0},
         "\\\\SRV\\La<s>er&\"Jet\"");
  Record(4, "tab\tuser", "line one\r\nline two\x7f", 1, 2, {2026, 12, 6, 9, 5, 3, 0},
         "\\\\SRV\\La<s>er&\"Jet\"");
  // On Win32 < > and " cannot stand in a file name.
  const auto text = fake.files.Text(LogPath("La_s_er&_Jet_"));
  ASSERT_TRUE(text.has_value());
  EXPECT_THAT(*text, HasSubstr("<type>\\\\SRV\\LaserJet</type>"));
  EXPECT_THAT(*text, HasSubstr("<user>obri</user> <printer>\\\\SRV\\LaserJet</printer>"
                               "<doc>abcde</doc>"));
  EXPECT_THAT(*text, HasSubstr("<user>tabuser</user>"));
  EXPECT_THAT(*text, HasSubstr("<doc>line oneline two</doc>"));
}

// Names come in the spooler's encoding (LogUtf8 as the supervisor last read
// it); a day's log keeps the encoding it was begun in, and a job's entry is
// found again whichever encoding its names came in.
TEST_F(RecordJobTest, ADayKeepsTheEncodingItsLogWasBegunIn) {
  const std::string lukasz = "\xC5\x81ukasz \xC5\xBB\xC3\xB3\xC5\x82\xC4\x87";  // Łukasz Żółć
  fake.spooler.SetNamesUtf8(true);
  Record(1, lukasz, "Faktura_wrzesie\xC5\x84.pdf", 1, 5);
  fake.spooler.SetNamesUtf8(false);
  Record(2, "j\xFCrgen", "\x80", 1, 5);  // windows-1252, moved to UTF-8
  EXPECT_TRUE(
      SameLog(Daily(), std::string(kXmlDeclarationUtf8) + kHead.substr(kXmlDeclaration.size()) +
                           Entry("09:05:03", 2, "j\xC3\xBCrgen", "\xE2\x82\xAC", 1, 5) +
                           Entry("09:05:03", 1, lukasz, "Faktura_wrzesie\xC5\x84.pdf", 1, 5) +
                           Total(10) + "</log>"));

  // Begun in ISO-8859-1: UTF-8 names come in windows-1252, "?" for the rest.
  fake.files.PutFile(LogPath("LaserJet"), kHead + Total(0) + "</log>");
  fake.spooler.SetNamesUtf8(true);
  Record(1, lukasz, "Faktura_wrzesie\xC5\x84.pdf", 1, 5);
  Record(1, lukasz, "Faktura_wrzesie\xC5\x84.pdf", 2, 10);
  EXPECT_TRUE(SameLog(
      Daily(), kHead + Entry("09:05:03", 1, "?ukasz ?\xF3??", "Faktura_wrzesie?.pdf", 3, 15) +
                   Total(15) + "</log>"));
}

TEST_F(RecordJobTest, ShortNamesThatCannotNameAFileAreMadeSafe) {
  Record(1, "u", "d", 1, 1, {}, "\\\\SRV\\a:b*c?d|e/f");
  Record(1, "u", "d", 1, 1, {}, "\\\\SRV\\..");
  Record(1, "u", "d", 1, 1, {}, "\\\\SRV\\.");
  Record(1, "u", "d", 1, 1, {}, "\\\\SRV\\");
  EXPECT_EQ(
      fake.files.FilesUnder(kLogs),
      (std::vector<std::string>{LogPath(""), LogPath("_"), LogPath("__"), LogPath("a_b_c_d_e_f")}));
}

TEST_F(RecordJobTest, PrintersWithOneShortNameShareTheFile) {
  Record(1, "u", "d", 1, 3, {2026, 12, 6, 9, 0, 0, 0}, "\\\\SRV1\\HP");
  Record(1, "v", "d", 2, 6, {2026, 12, 6, 9, 0, 1, 0}, "\\\\SRV2\\HP");
  Record(2, "w", "d", 1, 3, {2026, 12, 6, 9, 0, 2, 0}, "\\\\SRV2\\HP");
  const std::string text = fake.files.Text(LogPath("HP")).value_or("");
  EXPECT_THAT(text, HasSubstr("<type>\\\\SRV2\\HP</type>"));
  // Same id from the other server: another job, with an entry of its own.
  EXPECT_THAT(text,
              HasSubstr("<id>1</id><user>v</user> <printer>\\\\SRV2\\HP</printer><doc>d</doc> "
                        "<pages>2</pages> <cost>6</cost>"));
  EXPECT_THAT(text,
              HasSubstr("<id>1</id><user>u</user> <printer>\\\\SRV1\\HP</printer><doc>d</doc> "
                        "<pages>1</pages> <cost>3</cost>"));
  EXPECT_THAT(text, HasSubstr(Total(12)));
}

TEST_F(RecordJobTest, AFileHeldByAnotherProgramIsTriedForASecondAndThenLeftAsItIs) {
  const std::string held = kHead + Entry("08:00:00", 5, "a", "b", 1, 1) + Total(1) + "</log>";
  fake.files.PutFile(LogPath("LaserJet"), held);
  fake.files.Hold(LogPath("LaserJet"));
  Record(6, "u", "d", 1, 1);
  EXPECT_TRUE(SameLog(Daily(), held));
  EXPECT_EQ(waits.size(), kLogRetryMs / kLogRetryStepMs);
  uint32_t waited = 0;
  for (uint32_t ms : waits) waited += ms;
  EXPECT_EQ(waited, kLogRetryMs);

  waits.clear();
  onPause = [&] {
    if (waits.size() == 3) fake.files.Release(LogPath("LaserJet"));
  };
  Record(6, "u", "d", 1, 1);
  EXPECT_EQ(waits.size(), 3u);
  EXPECT_THAT(Daily(), HasSubstr("<id>5</id>"));
  EXPECT_THAT(Daily(), HasSubstr("<id>6</id>"));
}

TEST_F(RecordJobTest, AReadThatFailsPartWayNeverLeadsToARewriteFromNothing) {
  const std::string old = kHead + Entry("08:00:00", 5, "a", "b", 1, 1) + Total(1) + "</log>";
  fake.files.PutFile(LogPath("LaserJet"), old);
  fake.files.FailReads(LogPath("LaserJet"), 1000);
  Record(6, "u", "d", 1, 1);
  EXPECT_TRUE(SameLog(Daily(), old));
  fake.files.FailReads(LogPath("LaserJet"), 2);
  Record(6, "u", "d", 1, 1);
  EXPECT_THAT(Daily(), HasSubstr("<id>5</id>"));
  EXPECT_THAT(Daily(), HasSubstr("<id>6</id>"));
}

// Something at the day's name that is no log of ours (a link, a pipe, a
// folder, another account's file) once stopped the recording, or was taken
// in with the jobs it claimed: it is moved aside and the log begun anew.
TEST_F(RecordJobTest, AnIntruderAtTheLogsNameIsMovedAsideAndTheJobRecorded) {
  const std::string planted =
      kHead + Entry("08:00:00", 9, "victim", "b", 1000, 5000) + Total(5000) + "</log>";
  for (const bool foreign : {false, true}) {
    fake.files.Delete(LogPath("LaserJet"));
    if (foreign) {
      fake.files.PutForeign(LogPath("LaserJet"), planted);
    } else {
      fake.files.PutNonRegular(LogPath("LaserJet"));
    }
    Record(6, "u", "d", 1, 1);
    EXPECT_THAT(Daily(), HasSubstr("<id>6</id>"));
    EXPECT_THAT(Daily(), Not(HasSubstr("victim")));
    EXPECT_THAT(Daily(), HasSubstr(Total(1)));
  }
  EXPECT_TRUE(fake.files.Exists(LogPath("LaserJet") + ".refused"));
  EXPECT_TRUE(SameLog(fake.files.Text(LogPath("LaserJet") + ".refused2"), planted));
  EXPECT_EQ(fake.logger.Count("moved aside to LaserJet_20261206.xml.refused"), 2);
  EXPECT_EQ(fake.logger.KindOf("moved aside"), EventKind::kLogSetAside);
}

TEST_F(RecordJobTest, AFailedWriteLeavesTheOldFileWholeAndNoTemporaryFile) {
  Record(5, "a", "b", 1, 1);
  const std::string old = Daily();
  fake.files.FailWritesAfter(100);
  Record(6, "u", "d", 1, 1);
  EXPECT_TRUE(SameLog(Daily(), old));
  EXPECT_EQ(fake.files.FilesUnder(kLogs), std::vector<std::string>{LogPath("LaserJet")});

  // The temporary file held elsewhere for a moment: tried again.
  fake.files.FailWritesAfter(1 << 20);
  fake.files.BusyFor(LogPath("LaserJet") + ".tmp", 2);
  Record(6, "u", "d", 1, 1);
  EXPECT_THAT(Daily(), HasSubstr("<id>6</id>"));
  EXPECT_EQ(waits.size(), 2u);
}

TEST_F(RecordJobTest, APassAcrossMidnightReadsAndWritesOneFile) {
  fake.clock.SetNow(LocalTime{2026, 12, 6, 23, 59, 59, 990});
  Record(5, "a", "b", 1, 1, {2026, 12, 6, 23, 59, 57, 0});
  fake.files.BusyFor(LogPath("LaserJet"), 1);  // the retry's pause crosses midnight
  Record(6, "u", "d", 1, 1, {2026, 12, 6, 23, 59, 58, 0});
  EXPECT_EQ(fake.clock.Now().day, 7);
  EXPECT_FALSE(fake.files.Text(LogPath("LaserJet", "20261207")).has_value());
  EXPECT_THAT(Daily(), HasSubstr(Total(2)));

  Record(7, "u", "d", 1, 1, {2026, 12, 7, 0, 0, 1, 0});
  EXPECT_THAT(fake.files.Text(LogPath("LaserJet", "20261207")).value_or(""),
              HasSubstr("<date>2026/12/07</date>"));
  EXPECT_THAT(Daily(), HasSubstr(Total(2)));
}

TEST_F(RecordJobTest, AMissingLogsFolderIsNotCreated) {
  fake.registry.PutString("Software\\Pelko\\Path", "D:\\Nowhere");
  Record(1, "u", "d", 1, 1);
  EXPECT_TRUE(fake.files.Committed().empty());
  EXPECT_FALSE(fake.files.Exists("D:\\Nowhere\\Logs"));
}

struct Damaged {
  const char* name;
  std::string text;
  std::vector<int> ids;  // the entries kept, newest first, after job 99
  int total;
};

class RecordJobDamagedTest : public RecordJobTest, public ::testing::WithParamInterface<Damaged> {};

TEST_P(RecordJobDamagedTest, KeepsTheWholeEntriesAndWritesAWellFormedFile) {
  fake.files.PutFile(LogPath("LaserJet"), GetParam().text);
  Record(99, "u", "d", 1, 1);
  const std::string text = Daily();
  std::vector<LogEntry> entries;
  const std::size_t tail = ReadLogEntries(text, &entries);
  std::vector<int> ids;
  for (const auto& e : entries) ids.push_back(LeadingInt(e.id));
  EXPECT_EQ(ids, GetParam().ids);
  EXPECT_EQ(text.substr(tail), Total(GetParam().total) + "</log>");
  EXPECT_EQ(text.find('\n'), std::string::npos);
}

const std::string kTwo =
    kHead + Entry("10:00:00", 2, "b", "d", 2, 20) + Entry("09:00:00", 1, "a", "c", 1, 10);

INSTANTIATE_TEST_SUITE_P(
    Inputs, RecordJobDamagedTest,
    ::testing::Values(
        Damaged{"Empty", "", {99}, 1}, Damaged{"Garbage", "\x01<<&&>>\n\r\xff</log", {99}, 1},
        Damaged{"NoTotal", kTwo + "</log>", {99, 2, 1}, 31},
        Damaged{"NoFooter", kTwo + Total(30), {99, 2, 1}, 31},
        Damaged{"CutInAnEntry", kTwo + "<entry> <date>2026/12/06</da", {99, 2, 1}, 31},
        Damaged{"WrongTotal", kTwo + Total(7) + "</log>", {99, 2, 1}, 31},
        Damaged{"MarkupInValues",
                kHead + Entry("09:00:00", 1, "a&b<c", "x\n<y>", 1, 10) + Total(10) + "</log>",
                {99, 1},
                11},
        Damaged{"JunkBetweenEntries",
                kHead + Entry("10:00:00", 2, "b", "d", 2, 20) + "junk<x>" +
                    Entry("09:00:00", 1, "a", "c", 1, 10) + Total(30) + "</log>",
                {99, 2, 1},
                31}),
    [](const ::testing::TestParamInfo<Damaged>& info) { return info.param.name; });

}  // namespace
}  // namespace pelko
