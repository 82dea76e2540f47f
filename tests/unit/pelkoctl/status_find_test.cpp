// pelkoctl status and find against the fakes: the figures an administrator
// reads at a glance, and every reason a job has no entry.
#include <gtest/gtest.h>

#include <sstream>

#include "agent/config/mail_outcome.h"
#include "agent/config/settings.h"
#include "agent/monitor/pending_pages.h"
#include "agent/monitor/seen_jobs.h"
#include "pelkoctl/command_line.h"
#include "pelkoctl/job_finder.h"
#include "pelkoctl/status.h"
#include "tests/fakes/fake_env.h"

namespace pelko::ctl {
namespace {

class Probe : public HostProbe {
 public:
  std::string AgentNotRunning() override { return notRunning; }
  std::string ServiceCannotWrite(const std::string&) override { return ""; }
  std::vector<std::string> SpoolerRuleWarnings(const std::vector<std::string>&) override {
    return {};
  }
  std::optional<int64_t> AgentStartedAt() override { return started; }
  std::optional<std::vector<HistoryJob>> SpoolerHistory() override { return history; }
  std::string notRunning;
  std::optional<int64_t> started;
  std::optional<std::vector<HistoryJob>> history;
};

std::string Entry(const std::string& time, const std::string& id, const std::string& user,
                  const std::string& doc, const std::string& pages, const std::string& cost) {
  std::string out;
  AppendJobEntry(out, {"2026/12/08", time, id, user, "Office", doc, pages, cost});
  return out;
}

class StatusFindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.clock.SetNow({2026, 12, 8, 14, 0, 0});
    fake.spooler.SetJobs("Office", {});
    fake.spooler.CountFinalPages("Office");
    fake.spooler.SetJobs("Lab", {});
    ASSERT_EQ(Run({"add", "Office", "--cost", "20"}).first, 0);
    fake.registry.PutString(settings::kPath, "C:\\Pelko");
    fake.files.AddFolder("C:\\Pelko");
    fake.files.AddFolder("C:\\Pelko\\Logs");
  }
  std::pair<int, std::string> Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = RunPelkoctl(fake.env, &probe, args, out, err);
    return {status, out.str() + err.str()};
  }
  std::string Find(std::vector<std::string> args) {
    args.insert(args.begin(), "find");
    return Run(args).second;
  }
  FakeEnv fake{false};
  Probe probe;
};

TEST_F(StatusFindTest, StatusGivesTodaysFiguresTheNewestEntryByTimeAndWhatWaits) {
  // Job 8 was held pending and written after job 9: in front, but earlier.
  fake.files.PutFile("C:\\Pelko\\Logs\\Office_20261208.xml",
                     "<log>" + Entry("10:00:00", "8", "bob", "a", "2", "40") +
                         Entry("11:30:00", "9", "alice", "b", "3", "130") + "</log>");
  fake.files.PutFile("C:\\Pelko\\Logs\\Office_20261207.xml",
                     "<log>" + Entry("09:00:00", "1", "old", "c", "50", "1000") + "</log>");
  JobRecord held;
  held.pages = 4;
  fake.files.PutFile(PendingPagesPath(fake.env, "Office"), EncodePendingPages({held, held}));
  fake.registry.PutString(settings::kCostUnit, "EUR/2");
  RecordMailOutcome(fake.registry, {4010, "cannot connect to \"smtp\"", "2026-12-08 07:00:00"});
  probe.started = 1'000'000;

  Status status = ReadStatus(fake.env, &probe, 1'000'000 + 3700);
  ASSERT_EQ(status.printers.size(), 1u);
  const PrinterStatus& office = status.printers[0];
  EXPECT_EQ(office.jobsToday, 2) << "yesterday's log is not today's";
  EXPECT_EQ(office.pagesToday, 5);
  EXPECT_EQ(office.costToday, 170);
  EXPECT_EQ(office.pendingJobs, 2);
  EXPECT_EQ(office.pendingPages, 8);
  ASSERT_TRUE(office.lastEntry);
  EXPECT_EQ(office.lastEntry->id, "9") << "by time, not by file order";

  std::ostringstream table;
  PrintStatus(status, table);
  for (const char* said :
       {"agent     running since 1970-01-12 13:46:40 UTC (1 h 1 min)",
        "last entry Office 2026/12/08 11:30:00 job 9 alice 3 p. 1.30 EUR", "database  not used",
        "last mail FAILED at 2026-12-08 07:00:00 (event 4010): cannot connect to \"smtp\"",
        "Office       2      5      1.70 EUR        8"}) {
    EXPECT_NE(table.str().find(said), std::string::npos) << said << "\n" << table.str();
  }
  std::ostringstream json;
  PrintStatusJson(status, json);
  for (const char* said :
       {"\"uptime_seconds\": 3700", "\"error\": \"cannot connect to \\\"smtp\\\"\"",
        "\"cost_today\": 170, \"cost_today_text\": \"1.70 EUR\"", "\"pending_pages\": 8",
        "\"database\": {\"state\": \"off\"", "\"last_mail\": {\"state\": \"failed\""}) {
    EXPECT_NE(json.str().find(said), std::string::npos) << said << "\n" << json.str();
  }

  probe.notRunning = "no process runs it";
  EXPECT_NE(Run({"status"}).second.find("agent     NOT RUNNING: no process runs it"),
            std::string::npos);
  EXPECT_EQ(Run({"status", "--xml"}).first, 2);
}

TEST_F(StatusFindTest, FindSaysWhereEachJobWasEnteredOrWhyNot) {
  auto ended = [&](uint32_t id, const char* user, const char* title, uint32_t pages) {
    FakeJob job(id, user, title);
    job.submittedAt = 500 + id;
    fake.spooler.Submit("Office", job);
    fake.spooler.Print("Office", id, pages);
    fake.spooler.End("Office", id);
  };
  ended(5, "alice", "Quarterly report", 2);
  ended(6, "bob", "draft", 0);
  ended(8, "carol", "raw.prn", 0);
  ended(9, "dave", "first test page", 1);
  ended(11, "erin", "lost", 1);
  fake.spooler.Submit("Office", FakeJob(10, std::string("alice"), std::string("waiting")));
  HistoryJob cancelled{"Office", 6, "bob", "draft", true, false, 0, 0};
  HistoryJob elsewhere{"Lab", 7, "alice", "notes", false, false, 3, 0};
  HistoryJob raw{"Office", 8, "carol", "raw.prn", false, true, 0, 0};
  probe.history = std::vector<HistoryJob>{cancelled, elsewhere, raw};
  fake.files.PutFile("C:\\Pelko\\Logs\\Office_20261208.xml",
                     "<log>" + Entry("10:00:00", "5", "alice", "Quarterly report", "2", "40") +
                         Entry("09:00:00", "4", "alice", "gone", "1", "20") +
                         Entry("08:00:00", "3",
                               "s\xFC"
                               "dwest",
                               "F\xFCr Anna", "1", "20") +
                         "</log>");

  // The printer is not taken up yet: said for a job with no other reason.
  EXPECT_NE(Find({"9"}).find("not entered: the printer is not watched yet"), std::string::npos);
  SeenJobs book;
  book.MarkKnown();
  book.Add({9, 509}, true);
  fake.files.PutFile(SeenJobsPath(fake.env, "Office"), book.Encode());

  const std::pair<const char*, const char*> cases[] = {
      {"5",
       "entered in C:\\Pelko\\Logs\\Office_20261208.xml: 2026/12/08 10:00:00 5 alice 2 pages 40"},
      {"6", "not entered: it was cancelled before a page was printed"},
      {"7", "job 7 on Lab by alice \"notes\"\n  not entered: its queue 'Lab' is not configured"},
      {"8", "not entered: it was a raw job (lp -o raw)"},
      {"9", "not entered: it was printed before the printer was watched"},
      {"10", "not entered: it is still in the queue"},
      {"11", "not entered: it has no entry yet"},
      {"4", "job 4 on Office by alice \"gone\" (no longer in the spooler's history)\n  entered in"},
      {"2", "job 2 is beyond the history the spooler keeps (its oldest is job 5)"},
      {"99", "job 99 is not found anywhere"},
  };
  for (const auto& [id, said] : cases) {
    EXPECT_NE(Find({id}).find(said), std::string::npos) << id << ":\n" << Find({id});
  }
  const std::string alice = Find({"--user", "ALICE"});
  for (const char* job : {"job 4 ", "job 5 ", "job 7 ", "job 10 "}) {
    EXPECT_NE(alice.find(job), std::string::npos) << job << alice;
  }
  EXPECT_EQ(alice.find("job 6 "), std::string::npos);
#ifndef _WIN32
  // A windows-1252 log's names are UTF-8, as typed and as a terminal shows them.
  EXPECT_NE(Find({"--user",
                  "s\xC3\xBC"
                  "dwest"})
                .find("s\xC3\xBC"
                      "dwest 1 pages"),
            std::string::npos)
      << Find({"--user",
               "s\xC3\xBC"
               "dwest"});
#else
  // A UTF-8 log's names are ANSI, as all else pelkoctl says and as typed.
  fake.files.PutFile("C:\\Pelko\\Logs\\Office_20261207.xml",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?><log>" +
                         Entry("07:00:00", "1", "m\xC3\xBCller", "x", "1", "20") + "</log>");
  EXPECT_NE(Find({"--user", "m\xFCller"}).find("m\xFCller 1 pages"), std::string::npos)
      << Find({"--user", "m\xFCller"});
#endif
  const std::string titled = Find({"--title=REPORT"});
  EXPECT_NE(titled.find("job 5 "), std::string::npos);
  EXPECT_EQ(titled.find("job 4 "), std::string::npos);
  EXPECT_EQ(Run({"find", "99"}).first, 1);
  EXPECT_EQ(Run({"find"}).first, 2);
  EXPECT_EQ(Run({"find", "--owner", "x"}).first, 2);
}

}  // namespace
}  // namespace pelko::ctl
