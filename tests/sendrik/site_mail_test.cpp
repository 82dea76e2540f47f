#include "sendrik/site_mail.h"

#include <array>
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "report/database_source.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_sql.h"

namespace pelko::mail {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class SiteMailTest : public ::testing::Test {
 protected:
  SiteMailTest() {
    site.period = "last-month";
    site.connection = "DSN=pelko";
    site.password.type = kRegSz;
    site.password.data = "secret";
    // Two servers' rows in November, one in October and one in December.
    Job("north", "HP", "20261105", 1, "anna", 2, 20);
    Job("north", "HP", "20261130", 2, "paul", 3, 30);
    Job("south", "Lab", "20261101", 1, "anna", 5, 50);
    Job("south", "Lab", "20261031", 2, "eva", 7, 70);
    Job("south", "Lab", "20261201", 3, "eva", 11, 110);
  }
  void Job(const std::string& server, const std::string& printer, const std::string& logDate,
           int64_t id, const std::string& user, int pages, int cost) {
    database.committed.jobs[{server, printer, logDate, id, "2026/11/05", "10:00:00"}] = {
        user, "doc", std::to_string(pages), std::to_string(cost), "2026/11/05", "10:00:00"};
  }
  SiteChoice Choose() { return ReadSiteChoice(database, site, LocalTime{2026, 12, 8, 7, 0, 0, 0}); }

  FakeSqlDatabase database;
  SiteSettings site;
};

TEST_F(SiteMailTest, ThePeriodsRowsOfEveryServerAreSummed) {
  const SiteChoice choice = Choose();
  ASSERT_TRUE(choice.read) << choice.trouble;
  EXPECT_EQ(choice.report.from, "20261101");
  EXPECT_EQ(choice.report.to, "20261130");
  EXPECT_EQ(choice.report.jobs, 3);
  EXPECT_EQ(choice.report.pages, 10);
  EXPECT_EQ(choice.report.TotalCost(), 100);
  EXPECT_EQ(report::Headline(choice.report), "November 2026");
  ASSERT_EQ(choice.report.servers.size(), 2u);
  EXPECT_EQ(choice.report.servers[0].name, "north");  // 50 against 50: by name
  EXPECT_EQ(choice.report.users[0].name, "anna");
  EXPECT_EQ(choice.report.users[0].cost, 70);
}

TEST_F(SiteMailTest, NoPeriodAsksNothingOfTheDatabase) {
  site.period.clear();
  const SiteChoice choice = Choose();
  EXPECT_FALSE(choice.wanted);
  EXPECT_EQ(database.connects, 0);
}

// Every way the report can fail ends in the global log, with a reason and
// without a single figure taken from a half-read answer.
TEST_F(SiteMailTest, WhatTheDatabaseCannotGiveFallsBackWithAReason) {
  struct Case {
    const char* name;
    std::function<void(FakeSqlDatabase&, SiteSettings&)> spoil;
    const char* said;
  } cases[] = {
      {"down", [](FakeSqlDatabase& d, SiteSettings&) { d.down = true; }, "did not answer"},
      {"wrong password", [](FakeSqlDatabase&, SiteSettings& s) { s.password.data = "guess"; },
       "28P01"},
      {"lost in the query", [](FakeSqlDatabase& d, SiteSettings&) { d.failAfterStatements = 0; },
       "did not give the report"},
      {"no connection", [](FakeSqlDatabase&, SiteSettings& s) { s.connection.clear(); },
       "DatabaseConnection is not set"},
      {"no period", [](FakeSqlDatabase&, SiteSettings& s) { s.period = "last-week"; }, "no period"},
  };
  for (const Case& c : cases) {
    FakeSqlDatabase fresh;
    fresh.committed = database.committed;
    SiteSettings settings = site;
    c.spoil(fresh, settings);
    const SiteChoice choice = ReadSiteChoice(fresh, settings, LocalTime{2026, 12, 8, 7, 0, 0, 0});
    EXPECT_TRUE(choice.wanted) << c.name;
    EXPECT_FALSE(choice.read) << c.name;
    EXPECT_THAT(choice.trouble, HasSubstr(c.said)) << c.name;
    EXPECT_EQ(choice.report.jobs, 0) << c.name;
    EXPECT_TRUE(choice.report.servers.empty()) << c.name;
    const std::string note = FallbackNote(settings.period, choice.trouble);
    EXPECT_THAT(note, HasSubstr("this computer's own global log")) << c.name;
  }
}

TEST_F(SiteMailTest, TheAwayMarkSaysItOnceForEachOutage) {
  FakeRegistry registry;
  EXPECT_FALSE(MarkDatabaseAway(registry, false));
  EXPECT_TRUE(MarkDatabaseAway(registry, true));
  EXPECT_FALSE(MarkDatabaseAway(registry, true));
  EXPECT_FALSE(MarkDatabaseAway(registry, true));
  EXPECT_FALSE(MarkDatabaseAway(registry, false));
  EXPECT_TRUE(MarkDatabaseAway(registry, true));
}

TEST_F(SiteMailTest, TheSiteMailSaysWhatItIsInUtf8) {
  MailSettings settings;
  settings.from = "pelko@example.com";
  settings.to = {"boss@example.com"};
  settings.subjectPrefix = "[Print]";
  SiteChoice choice = Choose();
  ASSERT_TRUE(choice.read);
  choice.report.users[0].name = "J\xc3\xbcrgen <b>";
  const MailMessage m = BuildSiteMessage(settings, site.period, choice.report, 0);
  EXPECT_THAT(m.headers,
              ::testing::Contains(
                  "Subject: [Print] Site print report 2026-11-01 to 2026-11-30: total 100"));
  EXPECT_EQ(m.charset, "utf-8");
  EXPECT_EQ(m.attachmentType, "text/html");
  EXPECT_EQ(m.attachmentName, "SiteReport_20261101-20261130.html");
  EXPECT_THAT(m.text,
              HasSubstr("Site-wide report (last-month) from the central database: 2 servers."));
  EXPECT_THAT(m.html, HasSubstr("<p id=\"source\"><strong>Site-wide report (last-month)"));
  EXPECT_THAT(m.html, HasSubstr("J\xc3\xbcrgen &lt;b&gt;"));
  EXPECT_THAT(m.html, Not(HasSubstr("<b>")));
  EXPECT_THAT(m.text, Not(HasSubstr("\r\r")));
}

// Rows of version 3 carry colour and mono pages where their entry had
// details; a database of version 2 holds no such columns and is never
// asked for them.
TEST_F(SiteMailTest, ColourAndMonoPagesComeFromVersionThreeOnly) {
  auto told = [&](const std::string& server, const std::string& date, int color, int mono) {
    for (auto& [key, value] : database.committed.jobs) {
      if (std::get<0>(key) == server && std::get<2>(key) == date) {
        value.insert(value.end(), {std::to_string(color), std::to_string(mono)});
      }
    }
  };
  told("north", "20261105", 1, 1);
  told("south", "20261101", 0, 5);
  database.committed.version = 2;
  SiteChoice choice = Choose();
  ASSERT_TRUE(choice.read) << choice.trouble;
  EXPECT_EQ(choice.report.split.toldJobs, 0);

  database.committed.version = 3;
  database.committed.detailColumns = true;
  choice = Choose();
  ASSERT_TRUE(choice.read) << choice.trouble;
  const report::PageSplit& all = choice.report.split;
  EXPECT_EQ((std::array<int64_t, 4>{all.color, all.mono, all.untold, all.toldJobs}),
            (std::array<int64_t, 4>{1, 6, 3, 2}));
  const MailMessage m = BuildSiteMessage(MailSettings{}, site.period, choice.report, 0);
  EXPECT_THAT(m.text, HasSubstr("  Colour: 1\r\n  Mono: 6\r\n  Not told apart: 3\r\n"));
  EXPECT_THAT(m.html, HasSubstr("<th class=\"num\">Colour</th><th class=\"num\">Mono</th><th "
                                "class=\"num\">Not told apart</th>"));
}

// Any print user names a job's owner (lp -U), and the rows keep it: the
// site mail's text part runs it through the guard the logs' reports use.
TEST_F(SiteMailTest, HostileNamesOfTheDatabaseAreGuardedInTheMail) {
  Job("north", "HP", "20261111", 4, "\x1B]2;owned\x07\x1B[2J", 1, 10);
  Job("south", "Lab", "20261112", 4,
      "\xC2\x9B"
      "31m \x9B"
      "2J",
      1, 10);
  const SiteChoice choice = Choose();
  ASSERT_TRUE(choice.read) << choice.trouble;
  const MailMessage m = BuildSiteMessage(MailSettings{}, site.period, choice.report, 0);
  EXPECT_THAT(m.text, HasSubstr("\\x1B]2;owned\\x07\\x1B[2J"));
  EXPECT_THAT(m.text, HasSubstr("\\xC2\\x9B31m \\x9B2J"));
  EXPECT_EQ(m.text.find_first_of(std::string("\x1B\x07\x7F\x9B", 4)), std::string::npos) << m.text;
}

// With the database away, the mail covers the period the site report would
// have: this computer's daily logs of it, never every log it keeps, and says
// which period it is; costs in the site's unit.
TEST_F(SiteMailTest, TheFallbackCoversTheSitePeriodAndSaysSo) {
  database.down = true;
  site.costUnit = CostUnit{"EUR", 2};
  const SiteChoice choice = Choose();
  ASSERT_FALSE(choice.read);
  EXPECT_EQ(choice.range.from + "-" + choice.range.to, "20261101-20261130");
  report::ReportBuilder builder;
  builder.Describe(choice.range.from, choice.range.to, report::TextEncoding::kWindows1252,
                   site.costUnit);
  builder.AddLog(
      "<log> <type>HP</type> <date>2026/11/05</date><entry> <date>2026/11/05</date>"
      "<time>10:00:00</time> <id>1</id><user>anna</user> <printer>HP</printer>"
      "<doc>Rechnung \x80</doc> <pages>5</pages> <cost>1311</cost></entry>"
      "<entry><user>Total</user><cost>1311</cost></entry></log>");
  const MailMessage m =
      BuildFallbackMessage(MailSettings{}, site.period, choice.trouble, builder.Finish(), 0);
  EXPECT_THAT(
      m.headers,
      ::testing::Contains(
          "Subject: Print report 2026-11-01 to 2026-11-30: total 13.11 EUR (this computer only)"));
  EXPECT_EQ(m.text.rfind("The site-wide report (EmailReportPeriod last-month) could not be made: "
                         "the database did not answer",
                         0),
            0u);
  EXPECT_THAT(m.text, HasSubstr("this computer's own report of the same period, November 2026, "
                                "from its daily logs"));
  EXPECT_THAT(m.text, HasSubstr("Print report, all printers: November 2026\r\n"));
  EXPECT_THAT(m.html, HasSubstr("Rechnung \x80"));
  EXPECT_EQ((std::array<std::string, 2>{m.charset, m.attachmentName}),
            (std::array<std::string, 2>{"windows-1252", "Report_20261101-20261130.html"}));
}

TEST_F(SiteMailTest, TheFallbackNoteHeadsBothBodiesEscapedAndMarksTheSubject) {
  MailMessage m;
  m.headers = {"From: a@example.com", "Subject: Print report 2026/12/08: total 9"};
  m.text = "Print report\r\n";
  m.html = "<html><head></head>\r\n<body>\r\n<h1>x</h1></body></html>\r\n";
  MarkAsFallback(m, FallbackNote("yesterday", "the database did not answer: <timeout>"));
  EXPECT_EQ(m.headers[1], "Subject: Print report 2026/12/08: total 9 (this computer only)");
  EXPECT_EQ(m.headers[0], "From: a@example.com");
  EXPECT_EQ(m.text.rfind("The site-wide report (EmailReportPeriod yesterday) could not be made", 0),
            0u);
  EXPECT_THAT(m.html, HasSubstr("<body>\r\n<p id=\"source\"><strong>The site-wide report"));
  EXPECT_THAT(m.html, HasSubstr("&lt;timeout&gt;"));
  EXPECT_THAT(m.html, HasSubstr("</strong></p>\r\n<h1>x</h1>"));
}

}  // namespace
}  // namespace pelko::mail
