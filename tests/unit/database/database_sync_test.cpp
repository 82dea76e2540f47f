#include <gtest/gtest.h>

#include "agent/core/supervisor.h"
#include "agent/database/database_thread.h"
#include "agent/database/job_rows.h"
#include "tests/fakes/fake_env.h"
#include "tests/fakes/fake_sql.h"

namespace pelko {
namespace {

const char kLog[] = "C:\\Pelko\\Logs\\HP_20261206.xml";

std::string Time(int id) { return "09:05:0" + std::to_string(id % 10); }

std::string Entry(int id, const std::string& user, const std::string& doc, int pages,
                  const std::string& time = "") {
  return "<entry> <date>2026/12/06</date><time>" + (time.empty() ? Time(id) : time) +
         "</time> <id>" + std::to_string(id) + "</id><user>" + user +
         "</user> <printer>HP</printer><doc>" + doc + "</doc> <pages>" + std::to_string(pages) +
         "</pages> <cost>" + std::to_string(pages * 5) + "</cost></entry>";
}

// The entry with print details after its cost, as LogJobDetails writes them.
std::string WithDetails(std::string entry, int colorPages, const std::string& client = "pc-12") {
  entry.replace(
      entry.size() - 8, 8,
      " <copies>2</copies><colorpages>" + std::to_string(colorPages) +
          "</colorpages><monopages>1</monopages> <sides>two-sided-long-edge</sides><paper>A4"
          "</paper><client>" +
          client + "</client><colorfrom>document</colorfrom></entry>");
  return entry;
}

std::string Log(const std::string& entries) {
  return "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' "
         "type='text/xsl' ?><log> <type>HP</type> <date>2026/12/06</date>" +
         entries + "<entry><user>Total</user><cost>999</cost></entry></log>";
}

FakeSqlTables::JobKey Key(int id, const std::string& time = "", const std::string& server = "PC1") {
  return {server, "HP", "20261206", id, "2026/12/06", time.empty() ? Time(id) : time};
}

class DatabaseSyncTest : public ::testing::Test {
 protected:
  DatabaseSyncTest() : fake(/*autoAdvanceClock=*/false), thread(WithSql(), locks) {
    fake.registry.PutString("Software\\Pelko\\Path", "C:\\Pelko");
    fake.registry.PutString("Software\\Pelko\\DatabaseConnection", "DSN=pelko");
    fake.registry.PutString("Software\\Pelko\\DatabasePassword", "secret");
    fake.files.AddFolder("C:\\Pelko\\Logs");
    fake.files.PutFile(kLog, Log(Entry(7, "paul", "Report.doc", 3) + Entry(8, "anna", "a;b", 1)));
  }
  const Env& WithSql() {
    fake.env.sql = &database;
    return fake.env;
  }
  // A round after the wait the thread asked for.
  uint32_t Round(uint32_t waited = 0) {
    fake.clock.Advance(waited);
    return thread.Cycle();
  }

  FakeEnv fake;
  FakeSqlDatabase database;
  LogLocks locks;
  DatabaseThread thread;
};

TEST_F(DatabaseSyncTest, EveryEntryIsOneRowTheTotalNone) {
  EXPECT_EQ(Round(), kDatabasePollMs);
  ASSERT_EQ(database.committed.jobs.size(), 2u);
  EXPECT_EQ(database.committed.jobs[Key(7)],
            (std::vector<std::string>{"paul", "Report.doc", "3", "15", "2026/12/06", "09:05:07"}))
      << "no details in the entry: NULL, not 0";
  EXPECT_EQ(database.committed.jobs[Key(8)][1], "a;b");
  EXPECT_EQ(database.committed.states.count({"PC1", "HP_20261206.xml"}), 1u);
  EXPECT_TRUE(fake.logger.Lines().empty());
}

TEST_F(DatabaseSyncTest, NothingChangedSendsNoStatementAtAll) {
  Round();
  const int after = database.statements;
  for (int i = 0; i < 40; ++i) Round(kDatabasePollMs);  // past a full look too
  EXPECT_EQ(database.statements, after);
  EXPECT_EQ(database.connects, 1);
}

TEST_F(DatabaseSyncTest, AChangedEntryUpdatesItsRowANewOneIsAddedTheRestStays) {
  Round();
  const int after = database.statements;
  fake.files.PutFile(kLog, Log(Entry(7, "paul", "Report.doc", 5) + Entry(8, "anna", "a;b", 1) +
                               Entry(9, "eve", "x", 2)));
  Round(kDatabasePollMs);
  EXPECT_EQ(database.committed.jobs.size(), 3u);
  EXPECT_EQ(database.committed.jobs[Key(7)][2], "5");
  EXPECT_EQ(database.committed.jobs[Key(7)][3], "25");
  EXPECT_EQ(database.committed.jobs[Key(9)][0], "eve");
  // The day read back for the row written over, the new row inserted, the
  // changed one written over, their sums, the file's state.
  EXPECT_EQ(database.statements - after, 5);
  EXPECT_EQ(database.rowsWritten, 4);
}

TEST_F(DatabaseSyncTest, AnIdGivenAgainIsARowOfItsOwnUpdatedByItsTime) {
  // The spooler numbered from 1 again: a second job 7, newest first.
  fake.files.PutFile(kLog, Log(Entry(7, "eve", "Other.doc", 2, "11:00:00") +
                               Entry(7, "paul", "Report.doc", 3) + Entry(8, "anna", "a;b", 1)));
  Round();
  ASSERT_EQ(database.committed.jobs.size(), 3u);
  EXPECT_EQ(database.committed.jobs[Key(7, "11:00:00")][0], "eve");
  EXPECT_EQ(database.committed.jobs[Key(7)][0], "paul");
  const int after = database.statements;
  fake.files.PutFile(kLog, Log(Entry(7, "eve", "Other.doc", 4, "11:00:00") +
                               Entry(7, "paul", "Report.doc", 3) + Entry(8, "anna", "a;b", 1)));
  Round(kDatabasePollMs);
  EXPECT_EQ(database.committed.jobs[Key(7, "11:00:00")][2], "4");
  EXPECT_EQ(database.committed.jobs[Key(7)][2], "3");
  EXPECT_EQ(database.statements - after, 4) << "read back, the one row, its sums, the file's state";
}

// A database of version 1, another server's rows and this one's in it, keyed
// as version 1 keyed them.
TEST_F(DatabaseSyncTest, AVersionOneDatabaseIsUpgradedInOneGoKeepingEveryRowOnce) {
  database.committed.version = 1;
  database.committed.oldKey = true;
  for (int id = 1; id <= 3; ++id) {
    database.committed.jobs[Key(id, "", "south")] = {"eva", "x", "1", "5", "2026/12/06", Time(id)};
  }
  database.committed.jobs[Key(7)] = {"paul", "Report.doc", "3", "15", "2026/12/06", Time(7)};
  const FakeSqlTables::Jobs before = database.committed.jobs;
  // Cut after the old table is dropped: nothing of the upgrade is kept.
  database.failAfterStatements = 9;
  const uint32_t wait = Round();
  EXPECT_EQ(wait, kDatabaseFirstRetryMs);
  EXPECT_EQ(database.committed.version, 1);
  EXPECT_EQ(database.committed.jobs, before);
  database.failAfterStatements = -1;
  fake.files.PutFile(kLog, Log(Entry(7, "eve", "Other.doc", 2, "11:00:00") +
                               Entry(7, "paul", "Report.doc", 3) + Entry(8, "anna", "a;b", 1)));
  EXPECT_EQ(Round(wait), kDatabasePollMs);
  EXPECT_EQ(database.committed.version, 5);
  EXPECT_FALSE(database.committed.oldKey);
  EXPECT_TRUE(database.committed.detailColumns);
  EXPECT_TRUE(database.committed.holding.empty());
  EXPECT_EQ(database.committed.jobs.size(), before.size() + 2) << "job 7 given again, job 8";
  for (const auto& [key, value] : before) EXPECT_EQ(database.committed.jobs[key], value);
  EXPECT_EQ(database.committed.jobs[Key(7, "11:00:00")][0], "eve");
  EXPECT_EQ(fake.logger.Count("upgraded from version 1 to 5"), 1);
}

// Each ALTER commits by itself on MariaDB: a cut among them, or an agent
// that finds the step half done, must not stop the next one.
TEST_F(DatabaseSyncTest, AVersionTwoDatabaseGainsTheDetailColumnsKeepingEveryRowOnce) {
  database.committed.version = 2;
  database.committed.jobs[Key(1, "", "south")] = {"eva", "x", "1", "5", "2026/12/06", Time(1)};
  database.committed.jobs[Key(7)] = {"paul", "Report.doc", "3", "15", "2026/12/06", Time(7)};
  const FakeSqlTables::Jobs before = database.committed.jobs;
  database.failAfterStatements = 5;  // among the ALTERs
  const uint32_t wait = Round();
  EXPECT_EQ(wait, kDatabaseFirstRetryMs);
  EXPECT_EQ(database.committed.version, 2);
  EXPECT_FALSE(database.committed.detailColumns);
  database.failAfterStatements = -1;
  EXPECT_EQ(Round(wait), kDatabasePollMs);
  EXPECT_EQ(database.committed.version, 5);
  EXPECT_TRUE(database.committed.detailColumns);
  EXPECT_EQ(database.committed.jobs.size(), before.size() + 1) << "job 8 added";
  for (const auto& [key, value] : before) EXPECT_EQ(database.committed.jobs[key], value);
  EXPECT_EQ(fake.logger.Count("upgraded from version 2 to 5"), 1);
}

// The sums a report reads are what a GROUP BY over the rows gives: made of
// the rows there were by the upgrade, then changed by each row added and
// written over (its pages, its user, its colour), in one connection and
// after a restart, an entry gone from the log staying in both.
TEST_F(DatabaseSyncTest, TheSumsStayWhatTheRowsAddUpTo) {
  database.committed.version = 3;
  database.committed.detailColumns = true;
  database.committed.jobs[Key(1, "", "south")] = {"eva", "x", "1", "5", "2026/12/06", Time(1)};
  database.committed.jobs[Key(7)] = {"paul", "Report.doc", "2", "10", "2026/12/06", Time(7)};
  database.committed.jobs[{"PC1", "HP", "20261206", 3, "2026/12/05", "23:59:00"}] = {
      "paul", "late", "1", "5", "2026/12/05", "23:59:00"};
  auto groupBy = [&] {
    FakeSqlTables grouped;
    for (const auto& [key, value] : database.committed.jobs) {
      for (char kind : {'d', 'u', 'p'}) FakeSqlConnection::AddToSums(grouped, kind, key, value);
    }
    return grouped.sums;
  };
  auto kept = [&] {
    auto sums = database.committed.sums;
    std::erase_if(sums, [](const auto& sum) { return sum.second == std::vector<int64_t>(7); });
    return sums;
  };
  EXPECT_EQ(Round(), kDatabasePollMs);
  EXPECT_EQ(database.committed.version, 5);
  EXPECT_EQ(kept(), groupBy()) << "the upgrade's sums, then job 7 written over, job 8 added";
  fake.files.PutFile(kLog, Log(WithDetails(Entry(7, "eve", "Report.doc", 4), 2) +
                               Entry(8, "anna", "a;b", 1) + Entry(9, "x", "y", 2)));
  Round(kDatabasePollMs);
  EXPECT_EQ(kept(), groupBy()) << "in the same connection";
  DatabaseThread restarted(fake.env, locks);
  fake.files.PutFile(kLog,
                     Log(WithDetails(Entry(7, "eve", "Report.doc", 4), 1) + Entry(9, "x", "y", 3)));
  fake.clock.Advance(kDatabasePollMs);
  restarted.Cycle();
  EXPECT_EQ(database.committed.jobs.count(Key(8)), 1u);
  EXPECT_EQ(kept(), groupBy()) << "after a restart";
}

TEST_F(DatabaseSyncTest, PrintDetailsFillTheirColumnsAndACorrectionUpdatesTheRow) {
  auto log = [](int colorPages) {
    return Log(WithDetails(Entry(7, "paul", "Report.doc", 3), colorPages, "") +
               Entry(8, "anna", "a;b", 1) + WithDetails(Entry(9, "eve", "x", 2), 1));
  };
  fake.files.PutFile(kLog, log(2));
  Round();
  EXPECT_EQ(database.committed.jobs[Key(7)],
            (std::vector<std::string>{"paul", "Report.doc", "3", "15", "2026/12/06", Time(7), "2",
                                      "1", "2", "two-sided-long-edge", "A4", "", "document"}))
      << "a client not told is NULL";
  EXPECT_EQ(database.committed.jobs[Key(8)].size(), 6u) << "no details: NULL, not 0";
  EXPECT_EQ(database.committed.jobs[Key(9)][11], "pc-12");
  // The document measured later: a colour page more, the pages as they were.
  const int after = database.statements;
  fake.files.PutFile(kLog, log(3));
  Round(kDatabasePollMs);
  EXPECT_EQ(database.committed.jobs[Key(7)][6], "3");
  EXPECT_EQ(database.statements - after, 4) << "read back, the one row, its sums, the file's state";
  EXPECT_EQ(database.rowsWritten, 4);
}

TEST_F(DatabaseSyncTest, ALogWithoutDetailsGetsThemFromItsTwin) {
  fake.files.PutFile(
      "C:\\Pelko\\Logs\\HP_20261206.details",
      Log(WithDetails(Entry(8, "anna", "a;b", 1), 1) + WithDetails(Entry(9, "x", "y", 1), 1)));
  Round();
  EXPECT_EQ(database.committed.jobs[Key(8)][6], "1");
  EXPECT_EQ(database.committed.jobs[Key(7)].size(), 6u) << "an entry the twin lacks: NULL";
  EXPECT_EQ(database.committed.jobs.count(Key(9)), 0u) << "the twin is no log of its own";
  // A document measured later at no other cost changes the twin alone.
  fake.files.PutFile(
      "C:\\Pelko\\Logs\\HP_20261206.details",
      Log(WithDetails(Entry(8, "anna", "a;b", 1), 0) + WithDetails(Entry(9, "x", "y", 1), 1)));
  Round(kDatabasePollMs);
  EXPECT_EQ(database.committed.jobs[Key(8)][6], "0");
  EXPECT_EQ(database.rowsWritten, 3);
}

// The agent rewrites a log whole: an entry in its middle may change or go,
// one may come anywhere. Only what the database lacks is written, whether
// the file was sent in this connection or the agent started anew meanwhile
// (the rows then read back once).
TEST_F(DatabaseSyncTest, ALogRewrittenInItsMiddleSendsOnlyWhatChangedAlsoAfterARestart) {
  fake.files.PutFile(kLog,
                     Log(Entry(1, "a", "x", 1) + Entry(2, "b", "x", 1) + Entry(3, "c", "x", 1)));
  Round();
  ASSERT_EQ(database.rowsWritten, 3);
  auto rewritten = [&](int pages) {
    fake.files.PutFile(kLog, Log(Entry(4, "d", "x", 1) + Entry(1, "a", "x", 1) +
                                 Entry(2, "b", "x", pages) + Entry(5, "e", "x", 1)));
  };
  rewritten(2);
  Round(kDatabasePollMs);
  EXPECT_EQ(database.rowsWritten, 3 + 3) << "4 and 5 new, 2 changed";
  EXPECT_EQ(database.committed.jobs[Key(2)][2], "2");
  EXPECT_EQ(database.committed.jobs.count(Key(3)), 1u) << "an entry gone stays";
  Round(kDatabasePollMs);
  EXPECT_EQ(database.rowsWritten, 6) << "nothing sent twice";

  DatabaseThread restarted(fake.env, locks);
  const int before = database.statements;
  rewritten(3);
  fake.clock.Advance(kDatabasePollMs);
  restarted.Cycle();
  EXPECT_EQ(database.committed.jobs[Key(2)][2], "3");
  EXPECT_EQ(database.rowsWritten, 7) << "the rows read back tell the one that changed";
  // Schema, the two settings, state, the rows read back, the row, its sums, the
  // file's state.
  EXPECT_EQ(database.statements - before, 8);
  fake.files.PutFile(kLog,
                     Log(Entry(6, "f", "x", 1) + Entry(4, "d", "x", 1) + Entry(1, "a", "x", 1) +
                         Entry(2, "b", "x", 3) + Entry(5, "e", "x", 1)));
  fake.clock.Advance(kDatabasePollMs);
  restarted.Cycle();
  EXPECT_EQ(database.rowsWritten, 8);
  EXPECT_EQ(database.statements - before, 8 + 3) << "a new row: nothing read back once sent";
}

// A file's rows go as one statement and their sums as another; the
// connection lost between them loses the whole file's transaction, and the
// file goes again whole.
TEST_F(DatabaseSyncTest, AFileCutHalfWayIsRolledBackAndSentAgainWhole) {
  Round();
  std::string entries;
  for (int id = 1000; id < 1600; ++id) entries += Entry(id, "u" + std::to_string(id), "d", 1);
  fake.files.PutFile(kLog, Log(entries));
  const int before = database.statements;
  database.failAfterStatements = 2;  // rows read back, the rows written, then lost
  const uint32_t wait = Round(kDatabasePollMs);
  EXPECT_EQ(wait, kDatabaseFirstRetryMs);
  EXPECT_EQ(database.statements - before, 2);
  EXPECT_EQ(database.committed.jobs.size(), 2u) << "none of the 600 kept";
  database.failAfterStatements = -1;
  const int again = database.statements;
  EXPECT_EQ(Round(wait), kDatabasePollMs);
  ASSERT_EQ(database.committed.jobs.size(), 602u);
  EXPECT_EQ(database.committed.jobs[Key(1599)][0], "u1599");
  // Schema, two settings, state, rows read back; the 600 rows at once, their 602
  // sums (a day, a printer, 600 users) at once; the state.
  EXPECT_EQ(database.statements - again, 5 + 1 + 1 + 1);
}

TEST_F(DatabaseSyncTest, ADatabaseOfALaterVersionIsLeftAloneAndSaidOnce) {
  database.committed.version = 6;
  uint32_t wait = 0;
  for (int i = 0; i < 4; ++i) wait = Round(wait);
  EXPECT_EQ(fake.logger.Count("version 6, this agent knows version 5: they are left alone"), 1);
  EXPECT_TRUE(database.committed.jobs.empty());
  EXPECT_EQ(database.committed.version, 6);
}

TEST_F(DatabaseSyncTest, APurgedLogStaysInTheDatabase) {
  Round();
  ASSERT_EQ(fake.files.Delete(kLog), FileStatus::kOk);
  Round(kDatabasePollMs);
  EXPECT_EQ(database.committed.jobs.size(), 2u);
}

TEST_F(DatabaseSyncTest, ALostBatchLeavesNothingHalfAndIsSentOnceLater) {
  database.failAfterStatements = 6;  // schema, state, rows read, one insert: then lost
  const uint32_t wait = Round();
  EXPECT_EQ(wait, kDatabaseFirstRetryMs);
  EXPECT_TRUE(database.committed.jobs.empty()) << "the cut transaction is not half kept";
  database.failAfterStatements = -1;
  EXPECT_EQ(Round(wait), kDatabasePollMs);
  EXPECT_EQ(database.committed.jobs.size(), 2u);
  // Sent again whole: a second pass over the same file doubles nothing.
  database.committed.states.clear();
  Round(kDatabasePollMs);
  Round(database::kFullLookMs);
  EXPECT_EQ(database.committed.jobs.size(), 2u);
}

TEST_F(DatabaseSyncTest, ADatabaseAwayIsSaidOnceBackedOffFromAndItsReturnSaid) {
  database.down = true;
  std::vector<uint32_t> waits;
  uint32_t wait = 0;
  for (int i = 0; i < 7; ++i) waits.push_back(wait = Round(wait));
  EXPECT_EQ(waits, (std::vector<uint32_t>{5000, 10000, 20000, 40000, 60000, 60000, 60000}));
  EXPECT_EQ(fake.logger.Count("out of reach"), 1);
  fake.files.PutFile(kLog, Log(Entry(7, "paul", "Report.doc", 4)));  // printed meanwhile
  database.down = false;
  EXPECT_EQ(Round(wait), kDatabasePollMs);
  EXPECT_EQ(database.committed.jobs[Key(7)][2], "4");
  EXPECT_EQ(fake.logger.Count("reachable again"), 1);
  EXPECT_EQ(fake.logger.KindOf("out of reach"), EventKind::kDatabaseUnreachable);
  EXPECT_EQ(fake.logger.KindOf("reachable again"), EventKind::kDatabaseBack);
  // A second outage is said again, when a change meets it: while nothing
  // changes the database is not asked anything.
  database.down = true;
  Round(kDatabasePollMs);
  EXPECT_EQ(fake.logger.Count("out of reach"), 1);
  fake.files.PutFile(kLog, Log(Entry(7, "paul", "Report.doc", 5)));
  Round(kDatabasePollMs);
  EXPECT_EQ(fake.logger.Count("out of reach"), 2);
}

TEST_F(DatabaseSyncTest, AWrongPasswordIsSaidOnceAndNothingSent) {
  fake.registry.PutString("Software\\Pelko\\DatabasePassword", "wrong");
  uint32_t wait = 0;
  for (int i = 0; i < 5; ++i) wait = Round(wait);
  EXPECT_EQ(fake.logger.Count("password authentication failed"), 1);
  EXPECT_TRUE(database.committed.jobs.empty());
}

TEST_F(DatabaseSyncTest, OffWithoutAConnectionAndNamedByServerName) {
  fake.registry.PutString("Software\\Pelko\\DatabaseConnection", "");
  Round();
  EXPECT_EQ(database.connects, 0);
  fake.registry.PutString("Software\\Pelko\\DatabaseConnection", "DSN=pelko");
  fake.registry.PutString("Software\\Pelko\\ServerName", "north");
  Round(kDatabasePollMs);
  EXPECT_EQ(database.committed.jobs.count(Key(7, "", "north")), 1u);
}

// Another server's transaction chosen over this one: the file goes again in
// the same round, a bounded number of times, before the database is said away.
TEST_F(DatabaseSyncTest, ADeadlockSendsTheFileAgainAtOnceButNotForever) {
  database.deadlocks = 2;
  EXPECT_EQ(Round(), kDatabasePollMs);
  EXPECT_EQ(database.committed.jobs.size(), 2u);
  EXPECT_EQ(fake.logger.Count("undone by the database and sent again: 40P01"), 1) << "said once";
  EXPECT_EQ(fake.logger.Count("out of reach"), 0);
  EXPECT_EQ(database.connects, 1);
  fake.files.PutFile(kLog, Log(Entry(7, "paul", "Report.doc", 3) + Entry(9, "eve", "x", 2)));
  database.deadlocks = 1000;
  EXPECT_EQ(Round(kDatabasePollMs), kDatabaseFirstRetryMs);
  EXPECT_EQ(database.deadlocks, 1000 - 4);
  EXPECT_EQ(fake.logger.Count("out of reach"), 1);
  EXPECT_EQ(database.committed.jobs.count(Key(9)), 0u);
}

// Two servers with the same printer, day and job ids: renaming one, or
// removing its logs, changes nothing of the other's rows or sent state.
TEST_F(DatabaseSyncTest, ARenamedOrRemovedServerLeavesTheOtherServersRowsAlone) {
  FakeEnv south(false);
  south.registry.PutString("Software\\Pelko\\Path", "D:\\P");
  south.registry.PutString("Software\\Pelko\\DatabaseConnection", "DSN=pelko");
  south.registry.PutString("Software\\Pelko\\DatabasePassword", "secret");
  south.registry.PutString("Software\\Pelko\\ServerName", "south");
  south.files.AddFolder("D:\\P\\Logs");
  south.files.PutFile("D:\\P\\Logs\\HP_20261206.xml", Log(Entry(7, "sam", "s.doc", 9)));
  south.env.sql = &database;
  LogLocks southLocks;
  DatabaseThread southThread(south.env, southLocks);
  Round();
  southThread.Cycle();
  auto southRows = [&] {
    FakeSqlTables::Jobs rows;
    for (const auto& [key, value] : database.committed.jobs) {
      if (std::get<0>(key) == "south") rows[key] = value;
    }
    return std::make_pair(rows, database.committed.states.count({"south", "HP_20261206.xml"}));
  };
  const auto before = southRows();
  ASSERT_EQ(before.first.size(), 1u);
  ASSERT_EQ(before.second, 1u);

  fake.registry.PutString("Software\\Pelko\\ServerName", "east");
  EXPECT_EQ(Round(kDatabasePollMs), kDatabasePollMs);
  EXPECT_EQ(database.connects, 3) << "the new name is taken at once";
  EXPECT_EQ(database.committed.jobs.count(Key(7, "", "east")), 1u) << "every kept log sent again";
  EXPECT_EQ(database.committed.jobs.count(Key(7)), 1u) << "the old name's rows stay";
  ASSERT_EQ(fake.files.Delete(kLog), FileStatus::kOk);
  Round(database::kFullLookMs);
  EXPECT_EQ(database.committed.jobs.count(Key(7, "", "east")), 1u);
  south.files.PutFile("D:\\P\\Logs\\HP_20261206.xml",
                      Log(Entry(8, "sam", "t.doc", 1) + Entry(7, "sam", "s.doc", 9)));
  south.clock.Advance(kDatabasePollMs);
  southThread.Cycle();
  auto after = southRows();
  EXPECT_EQ(after.first.size(), 2u);
  after.first.erase(Key(8, "", "south"));
  EXPECT_EQ(after, before);
}

TEST(DatabaseSupervision, TheThreadRunsWithThePrintersWhileADatabaseIsNamed) {
  FakeEnv fake;
  RegistryStringValue globalPath(fake.registry, "Software\\Pelko\\Path");
  Supervision supervision(fake.env, globalPath);
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 1);
  supervision.Cycle();
  EXPECT_EQ(fake.threads.Running(&supervision.DatabaseWorker()), 0) << "no database named";
  fake.registry.PutString("Software\\Pelko\\DatabaseConnection", "DSN=pelko");
  supervision.Cycle();
  supervision.Cycle();
  EXPECT_EQ(fake.threads.Running(&supervision.DatabaseWorker()), 1);
  fake.registry.PutDword("Software\\Pelko\\AppIsRunning", 0);
  supervision.Cycle();
  EXPECT_EQ(fake.threads.Running(&supervision.DatabaseWorker()), 0);
}

TEST(JobRowsTest, TextsBecomeUtf8AndFitTheirColumns) {
  const std::string log = Log(Entry(1, "M\xfcller", "caf\xc3\xa9 \xe6\x9d\xb1", 1) +
                              Entry(2, "x", std::string(1500, 'd'), 1) + Entry(2, "x", "again", 2) +
                              Entry(2, "y", "given again", 1, "10:00:00"));
  const auto rows = database::JobRowsOfLog(log);
  ASSERT_EQ(rows.size(), 3u) << "one row for each job id and time, the last entry's";
  EXPECT_EQ(rows[0].user, "M\xc3\xbcller") << "windows-1252 bytes";
  EXPECT_EQ(rows[0].document, "caf\xc3\xa9 \xe6\x9d\xb1") << "UTF-8 stays";
  EXPECT_EQ(rows[1].document, "again");
  EXPECT_EQ(rows[2].document, "given again");
  EXPECT_EQ(
      database::JobRowsOfLog(Log(Entry(3, "x", std::string(1500, 'd'), 1)))[0].document.size(),
      1000u);
}

TEST(JobRowsTest, PrintDetailsAreReadWhereTheEntryHoldsThem) {
  const auto rows =
      database::JobRowsOfLog(Log(WithDetails(Entry(1, "x", "a", 3), 2, std::string(300, 'c')) +
                                 Entry(2, "x", "b", 1) + WithDetails(Entry(3, "x", "c", 1), 0)));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].copies, 2);
  EXPECT_EQ(rows[0].colorPages, 2);
  EXPECT_EQ(rows[0].monoPages, 1);
  EXPECT_EQ(rows[0].sides + " " + rows[0].paper + " " + rows[0].colorFrom,
            "two-sided-long-edge A4 document");
  EXPECT_EQ(rows[0].client.size(), 255u) << "cut to its column";
  EXPECT_FALSE(rows[1].copies || rows[1].colorPages || rows[1].monoPages) << "none held: no 0";
  EXPECT_EQ(rows[1].sides + rows[1].paper + rows[1].client + rows[1].colorFrom, "");
  EXPECT_EQ(rows[2].colorPages, 0) << "told as none";
}

TEST(JobRowsTest, OnlyDailyLogsHaveALogDate) {
  EXPECT_EQ(database::LogDateOfFile("HP_20261206.xml"), "20261206");
  EXPECT_EQ(database::LogDateOfFile("My_Printer_20261206.XML"), "20261206");
  EXPECT_EQ(database::LogDateOfFile("GlobalLog_20261206.xml"), "");
  EXPECT_EQ(database::LogDateOfFile("HP_2026120x.xml"), "");
  EXPECT_EQ(database::LogDateOfFile("HP_20261206.xml.tmp"), "");
}

}  // namespace
}  // namespace pelko
