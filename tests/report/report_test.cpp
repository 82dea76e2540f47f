#include "report/report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "agent/logs/log_format.h"
#include "report/csv.h"
#include "report/csv_dialect.h"
#include "report/guard.h"
#include "report/html.h"
#include "report/log_files.h"
#include "report/summary.h"
#include "report/svg_chart.h"
#include "report/text.h"

namespace pelko::report {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kProlog(kLogProlog);

std::string Entry(const std::string& date, int id, const std::string& user,
                  const std::string& printer, const std::string& doc, int pages, int cost) {
  return "<entry> <date>" + date + "</date><time>10:00:00</time> <id>" + std::to_string(id) +
         "</id><user>" + user + "</user> <printer>" + printer + "</printer><doc>" + doc +
         "</doc> <pages>" + std::to_string(pages) + "</pages> <cost>" + std::to_string(cost) +
         "</cost></entry>";
}

std::string Log(const std::string& type, const std::string& entries, int total) {
  return kProlog + "<log> <type>" + type + "</type> <date>2026/12/07</date>" + entries +
         "<entry><user>Total</user><cost>" + std::to_string(total) + "</cost></entry></log>";
}

Report Build(std::initializer_list<std::string> logs, std::size_t limit = kListedJobs) {
  ReportBuilder builder(limit);
  for (const std::string& log : logs) EXPECT_TRUE(builder.AddLog(log));
  return builder.Finish();
}

TEST(ReportTest, FiguresOfADailyLog) {
  const Report r = Build({Log("\\\\SRV\\HP",
                              Entry("2026/12/07", 2, "paul", "\\\\SRV\\HP", "b.doc", 3, 15) +
                                  Entry("2026/12/07", 1, "anna", "\\\\SRV\\HP", "a.doc", 2, 10) +
                                  Entry("2026/12/06", 0, "anna", "\\\\SRV\\HP", "c.doc", 4, 20),
                              45)});
  EXPECT_EQ(r.title, "\\\\SRV\\HP");
  EXPECT_EQ(r.headDate, "2026/12/07");
  EXPECT_FALSE(r.global);
  EXPECT_EQ(r.TotalCost(), 45);
  EXPECT_FALSE(r.TotalDiffers());
  EXPECT_EQ(r.jobs, 3);
  EXPECT_EQ(r.pages, 9);
  EXPECT_EQ(r.firstDate, "2026/12/06");
  EXPECT_EQ(r.lastDate, "2026/12/07");
  ASSERT_EQ(r.users.size(), 2u);
  EXPECT_EQ(r.users[0].name, "anna") << "largest cost first";
  EXPECT_EQ(r.users[0].jobs, 2);
  EXPECT_EQ(r.users[0].pages, 6);
  EXPECT_EQ(r.users[0].cost, 30);
  ASSERT_EQ(r.printers.size(), 1u);
  EXPECT_EQ(r.listed.front().id, "2") << "newest first";
}

TEST(ReportTest, TotalIsTheRecordedOneAndSeveralLogsAddUp) {
  const Report r = Build({Log("A", Entry("2026/12/07", 1, "u", "A", "d", 1, 5), 7),
                          Log("B", Entry("2026/12/05", 2, "u", "B", "d", 1, 5), 5)});
  EXPECT_EQ(Headline(r), "2026-12-05 to 2026-12-07") << "the period, never \"2 logs\"";
  EXPECT_TRUE(r.global);
  EXPECT_EQ(r.TotalCost(), 12);
  EXPECT_EQ(r.jobCost, 10);
  EXPECT_TRUE(r.TotalDiffers());
  EXPECT_EQ(r.printers.size(), 2u);
  EXPECT_EQ(r.users.size(), 1u);
}

TEST(ReportTest, LogWithoutTotalCountsItsJobs) {
  const std::string cut = kProlog + "<log> <type>A</type> <date>2026/12/07</date>" +
                          Entry("2026/12/07", 1, "u", "A", "d", 2, 9);
  const Report r = Build({cut});
  EXPECT_EQ(r.TotalCost(), 9);
  EXPECT_EQ(r.logsWithoutTotal, 1);
  EXPECT_THAT(ReportHtml(r), HasSubstr("id=\"no-total-entry\""));
}

// Jobs in any order, twins among them, by copy and by move: the newest of
// all are listed, however often the list was cut on the way.
TEST(ReportTest, ListsTheNewestOfJobsInAnyOrder) {
  std::vector<Job> jobs;
  for (int i = 0; i < 60; ++i) {
    const int at = (i * 37) % 60;
    jobs.push_back(Job{"2026/12/" + std::to_string(10 + at % 7),
                       "10:00:" + std::to_string(10 + at / 7), "1", "u" + std::to_string(i % 3),
                       "P", "d", 1, 1});
  }
  jobs.push_back(jobs[5]);
  ReportBuilder builder(4);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (i % 2 == 0) {
      builder.AddJob(jobs[i]);
    } else {
      builder.AddJob(Job(jobs[i]));
    }
  }
  std::sort(jobs.begin(), jobs.end(), NewerFirst);
  const Report r = builder.Finish();
  ASSERT_EQ(r.listed.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_EQ(r.listed[i].date + r.listed[i].time, jobs[i].date + jobs[i].time);
  EXPECT_EQ(r.unlisted, 57);
}

TEST(ReportTest, NoLogAtAllIsRefused) {
  ReportBuilder builder;
  EXPECT_FALSE(builder.AddLog("PK\x03\x04 not a log"));
  EXPECT_FALSE(builder.AddLog(""));
  EXPECT_EQ(builder.Finish().logs, 0);
}

TEST(ReportTest, JobsBeyondTheLimitAreCountedNotListed) {
  std::string entries;
  for (int i = 0; i < 10; ++i) entries += Entry("2026/12/07", i, "u", "P", "d", 1, 1);
  const Report r = Build({Log("Global Log", entries, 10)}, 4);
  EXPECT_TRUE(r.global);
  EXPECT_EQ(r.listed.size(), 4u);
  EXPECT_EQ(r.unlisted, 6);
  EXPECT_EQ(r.jobs, 10);
  EXPECT_THAT(ReportHtml(r, "See the log."), HasSubstr("and 6 more jobs. See the log."));
  EXPECT_THAT(ReportText(r), HasSubstr("and 6 more jobs."));
}

TEST(ReportTest, ALogOfManyMegabytesCountsEveryJobOnce) {
  std::string entries;
  int64_t cost = 0;
  for (int i = 0; i < 30000; ++i) {
    entries += Entry("2026/12/07", i, "user" + std::to_string(i % 50), "P", "doc", 1, i % 9);
    cost += i % 9;
  }
  ASSERT_GT(entries.size(), 3u << 20);
  const Report r = Build({Log("Global Log", entries, 77)});
  EXPECT_EQ(r.jobs, 30000);
  EXPECT_EQ(r.jobCost, cost);
  EXPECT_EQ(r.TotalCost(), 77);
  EXPECT_EQ(r.users.size(), 50u);
  EXPECT_EQ(r.logsWithoutTotal, 0);
}

TEST(ReportTest, EntriesWithStrayMarkupAreShownCleaned) {
  const std::string damaged = kProlog + "<log> <type>A</type> <date>2026/12/07</date>" +
                              Entry("2026/12/07", 1, "a<b>", "A", "x&y", 2, 4);
  const Report r = Build({damaged + "<entry><user>Total</user><cost>4</cost></entry></log>"});
  ASSERT_EQ(r.listed.size(), 1u);
  EXPECT_EQ(r.listed[0].user, "ab");
  EXPECT_EQ(r.listed[0].doc, "xy");
  EXPECT_EQ(r.pages, 2);
}

TEST(ReportHtmlTest, NamesAreEscapedAndAnsiBytesKept) {
  Report r;
  r.title = "Global Log";
  r.global = true;
  r.jobs = 1;
  r.listed.push_back(Job{"2026/12/07", "10:00:00", "1", "J\xFCrgen", "HP", "Plan \x96 <b>", 1, 1});
  r.users.push_back(Subtotal{"J\xFCrgen", 1, 1, 1});
  const std::string html = ReportHtml(r);
  EXPECT_THAT(html, HasSubstr("charset=windows-1252"));
  EXPECT_THAT(html, HasSubstr("J\xFCrgen"));
  EXPECT_THAT(html, HasSubstr("Plan \x96 &lt;b&gt;"));
  EXPECT_THAT(html, Not(HasSubstr("<script")));
  EXPECT_THAT(html, Not(HasSubstr("src=")));
}

TEST(ReportHtmlTest, Utf8PageDeclaresUtf8AndConvertsEveryName) {
  Report r;
  r.title = "Global Log";
  r.jobs = 1;
  r.listed.push_back(Job{"2026/12/07", "10:00:00", "1", "J\xFCrgen", "HP", "Plan \x80", 1, 1});
  r.users.push_back(Subtotal{"J\xFCrgen", 1, 1, 1});
  const std::string html = ReportHtmlUtf8(r);
  EXPECT_THAT(html, HasSubstr("charset=utf-8"));
  EXPECT_THAT(html, Not(HasSubstr("windows-1252")));
  EXPECT_THAT(html, HasSubstr("J\xC3\xBCrgen"));
  EXPECT_THAT(html, HasSubstr("Plan \xE2\x82\xAC"));
  EXPECT_THAT(html, Not(HasSubstr("J\xFCrgen")));
}

// Each log is read in the encoding it declares, into the report's: a log of
// LogUtf8 with one of ISO-8859-1.
TEST(ReportTest, EachLogIsReadInTheEncodingItDeclares) {
  std::string utf8 =
      Log("\xC5\x81\xC3\xB3"
          "d\xC5\xBA",
          Entry("2026/12/07", 1, "\xC5\x81ukasz", "HP", "wrzesie\xC5\x84", 1, 1), 1);
  utf8.replace(0, kXmlDeclaration.size(), kXmlDeclarationUtf8);
  const std::string ansi = Log("HP", Entry("2026/12/07", 2, "j\xFC", "HP", "\x80", 1, 1), 1);
  for (const TextEncoding encoding : {TextEncoding::kUtf8, TextEncoding::kWindows1252}) {
    ReportBuilder builder(kListedJobs);
    builder.Describe("", "", encoding, CostUnit{});
    ASSERT_TRUE(builder.AddLog(utf8));
    ASSERT_TRUE(builder.AddLog(ansi));
    const Report r = builder.Finish();
    ASSERT_EQ(r.listed.size(), 2u);
    std::vector<std::string> users{r.listed[0].user, r.listed[1].user};
    std::sort(users.begin(), users.end());
    if (encoding == TextEncoding::kUtf8) {
      EXPECT_EQ(users, (std::vector<std::string>{"j\xC3\xBC", "\xC5\x81ukasz"}));
    } else {
      EXPECT_EQ(users, (std::vector<std::string>{"?ukasz", "j\xFC"}));
    }
  }
  ReportBuilder single(kListedJobs);
  single.Describe("", "", TextEncoding::kUtf8, CostUnit{});
  ASSERT_TRUE(single.AddLog(utf8));
  EXPECT_EQ(single.Finish().title,
            "\xC5\x81\xC3\xB3"
            "d\xC5\xBA");
}

TEST(ReportHtmlTest, EmptyLogSaysNoJobs) {
  const Report r = Build({Log("HP", "", 0)});
  EXPECT_THAT(ReportHtml(r), HasSubstr("id=\"no-jobs\""));
  EXPECT_THAT(ReportText(r), HasSubstr("No jobs"));
}

// The chart of id in a page, "" where it has none.
std::string ChartOf(const std::string& html, const std::string& id) {
  const std::size_t at =
      html.find("<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"chart-" + id + "\"");
  return at == std::string::npos ? "" : html.substr(at, html.find("</svg>", at) + 6 - at);
}

int64_t FigureOf(std::string text) {
  for (std::size_t at; (at = text.find("&#8239;")) != std::string::npos;) text.erase(at, 7);
  return std::stoll(text);
}

struct Drawn {
  std::string kind, name;
  double length;  // a bar's width in percent, a column's height in pixels
  int64_t value;
};

// Every bar of a chart read back: its kind, its row's name, how long it is
// drawn and the figure it says it draws.
std::vector<Drawn> BarsOf(const std::string& svg) {
  static const std::regex kItem(
      R"re(<g class="row[^"]*" data-name="([^"]*)"|<rect class="(\w+)" x="[\d.]+%?" y="[\d.]+" width="([\d.]+)%" height="([\d.]+)" fill="#\w+" data-value="(-?\d+)"(?: data-label="([^"]*)")?)re");
  std::vector<Drawn> bars;
  std::string row;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), kItem); it != std::sregex_iterator();
       ++it) {
    const std::smatch& m = *it;
    if (m[1].matched) {
      row = m[1];
      continue;
    }
    const bool column = m[2] == "pages" && row.empty();
    bars.push_back({m[2], m[6].matched ? std::string(m[6]) : row,
                    std::stod(column && m[6].matched ? std::string(m[4]) : std::string(m[3])),
                    std::stoll(m[5])});
  }
  return bars;
}

// A subtotal table's rows: name, pages, cost.
std::vector<std::tuple<std::string, int64_t, int64_t>> RowsOf(const std::string& html,
                                                              const std::string& id) {
  const std::size_t at = html.find("id=\"by-" + id + "\"");
  if (at == std::string::npos) return {};
  const std::string body = html.substr(at, html.find("</tbody>", at) - at);
  static const std::regex kRow(
      R"(<tr><td>(.*?)</td><td class="num">[^<]*</td><td class="num">([^<]*)</td><td class="num">([^<]*)</td>)");
  std::vector<std::tuple<std::string, int64_t, int64_t>> rows;
  for (auto it = std::sregex_iterator(body.begin(), body.end(), kRow); it != std::sregex_iterator();
       ++it) {
    rows.emplace_back((*it)[1], FigureOf((*it)[2]), FigureOf((*it)[3]));
  }
  return rows;
}

// Each bar of a kind is as long as its figure's share of the longest; the
// longest, where given, as long as a bar may be.
void ExpectProportional(const std::vector<Drawn>& bars, const std::string& kind, double full = -1) {
  double longest = 0;
  int64_t largest = 0;
  for (const Drawn& b : bars) {
    if (b.kind == kind && b.value > largest) {
      std::tie(largest, longest) = std::pair(b.value, b.length);
    }
  }
  if (full >= 0) {
    EXPECT_NEAR(longest, full, 0.001) << kind;
  }
  for (const Drawn& b : bars) {
    if (b.kind == kind) {
      EXPECT_NEAR(b.length, longest * b.value / largest, 0.01) << kind << " " << b.name;
    }
  }
}

TEST(ReportChartTest, EachBarDrawsTheFigureOfItsTableRow) {
  ReportBuilder builder(kListedJobs);
  builder.Describe("20260901", "20261231", TextEncoding::kUtf8, CostUnit{});
  // 18 users on 2 printers over 4 months: 15 charted and "Others"; every
  // third job tells its colour.
  for (int i = 0; i < 18; ++i) {
    char date[16];
    std::snprintf(date, sizeof date, "2026/%02d/%02d", 9 + i % 4, 1 + i);
    const bool told = i % 3 == 0;
    builder.AddJob(Job{date, "10:00:00", std::to_string(i), "u" + std::to_string(i),
                       i % 2 ? "A" : "B", "d", 2 * i + 1, 7 * i + 3, told, 1, told ? i : 0,
                       told ? i + 1 : 0});
  }
  const Report r = builder.Finish();
  const std::string html = ReportHtmlUtf8(r);

  const std::vector<Drawn> users = BarsOf(ChartOf(html, "user"));
  const auto userRows = RowsOf(html, "user");
  ASSERT_EQ(users.size(), 2 * (kChartedGroups + 1));
  int64_t restPages = 0, restCost = 0;
  for (std::size_t i = kChartedGroups; i < userRows.size(); ++i) {
    restPages += std::get<1>(userRows[i]);
    restCost += std::get<2>(userRows[i]);
  }
  for (std::size_t i = 0; i <= kChartedGroups; ++i) {
    const auto expected = i < kChartedGroups
                              ? userRows.at(i)
                              : std::tuple{std::string("Others"), restPages, restCost};
    EXPECT_EQ(std::tuple(users[2 * i].name, users[2 * i].value, users[2 * i + 1].value), expected);
  }
  EXPECT_THAT(
      ChartOf(html, "user"),
      HasSubstr("<g class=\"row others\" data-name=\"Others\"><title>Others: 3 more users"));
  ExpectProportional(users, "pages", 60);
  ExpectProportional(users, "cost", 60);

  const std::vector<Drawn> printers = BarsOf(ChartOf(html, "printer"));
  const auto printerRows = RowsOf(html, "printer");
  ASSERT_EQ(printers.size(), 2 * printerRows.size());
  for (std::size_t i = 0; i < printerRows.size(); ++i) {
    EXPECT_EQ(std::tuple(printers[2 * i].name, printers[2 * i].value, printers[2 * i + 1].value),
              printerRows[i]);
  }

  for (const std::string period : {"day", "month"}) {
    const std::vector<Drawn> columns = BarsOf(ChartOf(html, period));
    const auto rows = RowsOf(html, period);
    ASSERT_EQ(columns.size(), rows.size()) << period;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(std::pair(columns[i].name, columns[i].value),
                std::pair(std::get<0>(rows[i]), std::get<1>(rows[i])))
          << period;
    }
    ExpectProportional(columns, "pages");
  }
  EXPECT_EQ(BarsOf(ChartOf(html, "month")).size(), 4u);

  const std::vector<Drawn> split = BarsOf(ChartOf(html, "colour"));
  ASSERT_EQ(split.size(), 3u);
  EXPECT_EQ((std::vector<int64_t>{split[0].value, split[1].value, split[2].value}),
            (std::vector<int64_t>{r.split.color, r.split.mono, r.split.untold}));
  EXPECT_NEAR(split[0].length + split[1].length + split[2].length, 100, 0.002);
  ExpectProportional(split, "color");
  EXPECT_NEAR(split[1].length / split[0].length, double(r.split.mono) / r.split.color, 0.001);
  EXPECT_NEAR(split[2].length / split[0].length, double(r.split.untold) / r.split.color, 0.001);
}

TEST(ReportChartTest, ChartsAreLeftOutWhereTheyWouldBeEmpty) {
  EXPECT_THAT(ReportHtml(Build({Log("HP", "", 0)})), Not(HasSubstr("<svg")));
  // One day, no details: a chart per user and per printer only.
  const std::string day =
      ReportHtml(Build({Log("HP", Entry("2026/12/07", 1, "u", "HP", "d", 2, 4), 4)}));
  EXPECT_NE(ChartOf(day, "user"), "");
  EXPECT_NE(ChartOf(day, "printer"), "");
  for (const std::string id : {"day", "month", "colour"}) EXPECT_EQ(ChartOf(day, id), "") << id;
  EXPECT_THAT(day, Not(HasSubstr("id=\"by-day\"")));
  // Two months: days, and the months' table without a chart.
  const std::string two = ReportHtml(Build({Log(
      "Global Log",
      Entry("2026/11/30", 1, "u", "HP", "d", 2, 4) + Entry("2026/12/01", 2, "u", "HP", "d", 1, 4),
      8)}));
  EXPECT_EQ(BarsOf(ChartOf(two, "day")).size(), 2u);
  EXPECT_EQ(ChartOf(two, "month"), "");
  EXPECT_THAT(two, HasSubstr("id=\"by-month\""));
}

// Names from the database reach the charts as they are written: markup,
// quotes, 300 characters, right-to-left text; in either page encoding.
TEST(ReportChartTest, HostileNamesAreTextInTheCharts) {
  std::string accented;
  for (int i = 0; i < 300; ++i) accented += "\xC3\xA9";           // é, two bytes in UTF-8
  const std::string rtl = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D 42";  // "shalom 42"
  ReportBuilder builder(kListedJobs);
  builder.Describe("", "", TextEncoding::kUtf8, CostUnit{}, true);
  builder.AddJob(Job{"2026/12/07", "10:00:00", "1", "<script>alert(1)</script>",
                     "a\"b'c&d<svg onload=alert(1)>", "t\"'&<svg onload=alert(1)>", 3, 30});
  builder.AddJob(Job{"2026/12/07", "10:00:00", "2", accented, "P", "d", 2, 20});
  builder.AddJob(Job{"2026/12/08", "10:00:00", "3", rtl, "P", "d", 1, 10});
  const Report r = builder.Finish();
  for (const TextEncoding encoding : {TextEncoding::kUtf8, TextEncoding::kWindows1252}) {
    const std::string html = ReportHtmlIn(r, encoding);
    EXPECT_THAT(html, Not(HasSubstr("<script")));
    EXPECT_THAT(html, Not(HasSubstr("<svg onload")));
    const std::string users = ChartOf(html, "user"), printers = ChartOf(html, "printer");
    EXPECT_THAT(users, HasSubstr("data-name=\"&lt;script&gt;alert(1)&lt;/script&gt;\"><title>"
                                 "&lt;script&gt;alert(1)&lt;/script&gt;</title>"));
    EXPECT_THAT(
        users,
        HasSubstr("<tspan unicode-bidi=\"isolate\">&lt;script&gt;alert(1)&lt;/script&gt;</tspan>"));
    EXPECT_THAT(printers, HasSubstr(">a&quot;b&#39;c&amp;d&lt;svg onload=alert(1)&gt;</tspan>"));
    // Cut by characters, never inside one; whole in the row's title.
    const std::string e = encoding == TextEncoding::kUtf8 ? "\xC3\xA9" : "\xE9";
    std::string shown, whole;
    for (std::size_t i = 0; i < kChartLabelChars - 1; ++i) shown += e;
    for (int i = 0; i < 300; ++i) whole += e;
    EXPECT_THAT(users, HasSubstr("<title>" + whole + "</title>"));
    EXPECT_THAT(users,
                HasSubstr("<tspan unicode-bidi=\"isolate\">" + shown + "</tspan>&#8230;</text>"));
    // The name isolated in a left-to-right line of its own: its figures
    // stand in other elements it cannot reorder.
    if (encoding == TextEncoding::kUtf8) {
      EXPECT_THAT(users, HasSubstr("direction=\"ltr\"><tspan unicode-bidi=\"isolate\">" + rtl +
                                   "</tspan></text>"));
    }
  }
}

TEST(CsvTest, FieldsAreQuotedOnlyWhenTheyMustBe) {
  std::string out;
  AppendCsvRow(out, Job{"2026/12/07", "10:00:00", "7", "anna", "\\\\S\\P", "a,b \"c\"", 2, -3});
  EXPECT_EQ(out, "2026/12/07,10:00:00,7,anna,\\\\S\\P,\"a,b \"\"c\"\"\",2,-3\r\n");
}

TEST(CsvTest, NamesThatLookLikeFormulasStayText) {
  std::string out;
  AppendCsvRow(out, Job{"d", "t", "1", "@evil", "P", "=HYPERLINK(1)", 0, 0});
  EXPECT_EQ(out, "d,t,1,'@evil,P,'=HYPERLINK(1),0,0\r\n");
}

// A date =HYPERLINK(...), or +1+2 / @SUM(9) in time or id, came out as a
// formula: only the names were guarded.
TEST(CsvTest, EveryTextFieldThatLooksLikeAFormulaStaysText) {
  std::string out;
  AppendCsvRow(out, Job{"=HYPERLINK(\"http://x\")", "+1+2", "@SUM(9)", "-1", "\tP", "\rD", 0, 0});
  EXPECT_EQ(out, "\"'=HYPERLINK(\"\"http://x\"\")\",'+1+2,'@SUM(9),'-1,'\tP,\"'\rD\",0,0\r\n");
}

// Every writer, of the logs or of the database, guards its text cells with
// AppendCsvCell; a spreadsheet skips spaces and quotes before it looks.
TEST(GuardTest, CsvCellsThatASpreadsheetWouldRunStayText) {
  const std::pair<std::string, std::string> cells[] = {
      {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
      {"+1+2", "'+1+2"},
      {"-2+3", "'-2+3"},
      {"@SUM(1+1)", "'@SUM(1+1)"},
      {"\t=1", "'\t=1"},
      {"\r=1", "\"'\r=1\""},
      {"  =1+1", "'  =1+1"},
      {"\"=1+1\"", "\"'\"\"=1+1\"\"\""},
      {" \" @x", "\"' \"\" @x\""},
      {"'=1", "'=1"},
      {"a=b, -c", "\"a=b, -c\""},
      {"anna", "anna"},
      {"  ", "  "},
      {"", ""},
  };
  for (const auto& [cell, written] : cells) {
    std::string out;
    AppendCsvCell(out, cell);
    EXPECT_EQ(out, written) << cell;
  }
}

// A terminal runs ESC and CSI sequences, 8-bit ones (0x9B) too; in UTF-8
// C1 also comes as two bytes, and a byte of no character is shown, not
// left to the terminal. windows-1252 keeps its signs at 0x80-0x9F.
TEST(GuardTest, TextShowsEveryControlCharacterAsAnEscape) {
  constexpr TextEncoding kUtf8 = TextEncoding::kUtf8, kAnsi = TextEncoding::kWindows1252;
  const struct {
    std::string text;
    TextEncoding encoding;
    std::string shown;
  } cases[] = {
      {"\x1B]2;owned\x07\x1B[2J", kUtf8, "\\x1B]2;owned\\x07\\x1B[2J"},
      {"550 no\r\n\t\x7F", kUtf8, "550 no\\x0D\\x0A\\x09\\x7F"},
      {"\x9B"
       "31m \xC2\x9B"
       "31m",
       kUtf8, "\\x9B31m \\xC2\\x9B31m"},
      {"\xC0\xAF \xED\xA0\x80 cut \xE2\x82", kUtf8, "\\xC0\\xAF \\xED\\xA0\\x80 cut \\xE2\\x82"},
      {"Jyv\xC3\xA4skyl\xC3\xA4 \xE2\x82\xAC \xF0\x9F\x96\xA8 C:\\Logs", kUtf8,
       "Jyv\xC3\xA4skyl\xC3\xA4 \xE2\x82\xAC \xF0\x9F\x96\xA8 C:\\Logs"},
      {"\x1B[2J\x7F\x81\x8D\x8F\x90\x9D", kAnsi, "\\x1B[2J\\x7F\\x81\\x8D\\x8F\\x90\\x9D"},
      {"J\xFCrgen \x80 \x93"
       "a\x94 \x9B",
       kAnsi,
       "J\xFCrgen \x80 \x93"
       "a\x94 \x9B"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShownText(c.text, c.encoding), c.shown) << c.shown;
}

// What anyone who may write the logs folder can put in a log reaches the
// CSV, the terminal's summary and the mail's text: a name that starts with
// a space before its formula, and windows-1252's undefined bytes, C1
// controls once the text is read as windows-1252.
TEST(GuardTest, HostileNamesOfALogAreGuardedByEveryWriter) {
  std::vector<Job> jobs;
  ReportBuilder builder(kListedJobs, [&](const Job& job) { jobs.push_back(job); });
  ASSERT_TRUE(builder.AddLog(
      Log("HP", Entry("2026/12/07", 1, " =HYPERLINK(1)", "HP\x9D[2J", "@SUM(1+1)", 1, -5), -5)));
  const Report r = builder.Finish();
  std::string csv;
  AppendCsvRow(csv, jobs.at(0));
  EXPECT_EQ(csv, "2026/12/07,10:00:00,1,' =HYPERLINK(1),HP\x9D[2J,'@SUM(1+1),1,-5\r\n");
  SummaryBuilder summary(Grouping::kNone);
  summary.Add(jobs.at(0));
  for (const std::string& shown : {summary.Table(r, TextEncoding::kUtf8),
                                   summary.Table(r, TextEncoding::kWindows1252), ReportText(r)}) {
    EXPECT_THAT(shown, HasSubstr("HP\\x9D[2J"));
    EXPECT_THAT(shown, Not(HasSubstr("\x9D"))) << "no raw byte 0x9D";
    EXPECT_THAT(shown, Not(HasSubstr("\xC2\x9D"))) << "no U+009D";
  }
}

// Bars for a terminal: each row's cost as a share of the largest, in
// blocks for UTF-8 and '#' for windows-1252; none unless asked, and by
// pages where nothing cost anything.
TEST(SummaryTest, BarsBesideEachRowOnlyWhenAsked) {
  const std::string block = "\xE2\x96\x88";
  auto bar = [&](int cells, const std::string& cell) {
    std::string out;
    for (int i = 0; i < cells; ++i) out += cell;
    return out;
  };
  for (const int price : {1, 0}) {
    SummaryBuilder summary(Grouping::kNone);
    ReportBuilder builder(kListedJobs, [&](const Job& job) { summary.Add(job); });
    builder.Describe("", "", TextEncoding::kUtf8, CostUnit{});
    builder.AddJob(Job{"2026/12/07", "10:00:00", "1", "anna", "HP", "d", 40, 40 * price});
    builder.AddJob(Job{"2026/12/07", "10:00:00", "2", "paul", "HP", "d", 10, 10 * price});
    builder.AddJob(Job{"2026/12/07", "10:00:00", "3", "nils", "Lab", "d", 1, 1 * price});
    const Report r = builder.Finish();
    const std::string plain = summary.Table(r, TextEncoding::kUtf8);
    EXPECT_THAT(plain, Not(HasSubstr(block)));
    EXPECT_THAT(plain, Not(HasSubstr("#")));
    for (const auto& [encoding, cell] : {std::pair(TextEncoding::kUtf8, block),
                                         std::pair(TextEncoding::kWindows1252, std::string("#"))}) {
      const std::string barred = summary.Table(r, encoding, true);
      std::map<std::string, std::string>
          ends;  // each row's first word, and what follows its figures
      std::istringstream lines(barred);
      for (std::string line; std::getline(lines, line);) {
        const std::size_t figures = line.find_last_of("0123456789");
        if (line.size() > 2 && figures != std::string::npos)
          ends[line.substr(2, line.find(' ', 2) - 2)] = line.substr(figures + 1);
      }
      EXPECT_EQ(ends["anna"], "  " + bar(20, cell));
      EXPECT_EQ(ends["paul"], "  " + bar(5, cell));
      EXPECT_EQ(ends["nils"], "  " + bar(1, cell)) << "a small share still shows";
      EXPECT_EQ(ends["HP"], "  " + bar(20, cell));
      EXPECT_EQ(ends["Lab"], "  " + bar(1, cell));
      EXPECT_EQ(ends["All"], "") << "no bar for the whole";
    }
  }
}

#ifndef _WIN32
// A pipe named like a log made pelkoreport hang in its open; a link to
// /dev/zero cost it 1 GiB of memory. Read in a child, so that a hang fails
// the test instead of holding it.
TEST(ReadFileBytesTest, OnlyRegularFilesAreReadAndNothingWaits) {
  char pattern[] = "/tmp/pelko-report-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  ASSERT_EQ(mkfifo((dir + "/Pipe_20261207.xml").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", (dir + "/Zero_20261207.xml").c_str()), 0);
  const pid_t child = fork();
  if (child == 0) {
    alarm(10);
    std::string bytes;
    const bool refused =
        ReadFileBytes(dir + "/Pipe_20261207.xml", 1 << 30, &bytes) == ReadStatus::kNotRegular &&
        ReadFileBytes(dir + "/Zero_20261207.xml", 1 << 30, &bytes) == ReadStatus::kNotRegular &&
        bytes.empty();
    _exit(refused ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  std::filesystem::remove_all(dir);
}
#endif

// Every heading names the period: the one asked for, else the jobs' own;
// a whole month by its name. A global log lists its jobs by printer, and
// the list is still newest first, as its title says.
TEST(ReportTest, HeadingsNameThePeriodAndTheListIsNewestFirst) {
  const Report global = Build({Log("Global Log",
                                   Entry("2026/12/01", 1, "u", "A", "old", 1, 1) +
                                       Entry("2026/12/07", 2, "u", "A", "newest", 1, 1) +
                                       Entry("2026/12/03", 3, "u", "B", "middle", 1, 1),
                                   3)});
  EXPECT_EQ(WhenLine(global), "Built on 2026/12/07, jobs of 2026-12-01 to 2026-12-07");
  std::vector<std::string> docs;
  for (const Job& job : global.listed) docs.push_back(job.doc);
  EXPECT_EQ(docs, (std::vector<std::string>{"newest", "middle", "old"}));

  ReportBuilder asked;
  asked.Describe("20261201", "20261231", TextEncoding::kWindows1252, CostUnit{});
  asked.AddLog(Log("HP", Entry("2026/12/07", 1, "u", "HP", "d", 1, 1), 1));
  const Report month = asked.Finish();
  EXPECT_EQ(Headline(month), "December 2026") << "one log found, the period asked for";
  EXPECT_THAT(ReportHtml(month), HasSubstr("<h1 id=\"printer\">December 2026</h1>"));
  EXPECT_THAT(ReportHtml(month), HasSubstr("<title>Print report: December 2026</title>"));
  EXPECT_EQ(ReportText(month).substr(0, 50), "Print report, all printers: December 2026\nJobs of ");
  SummaryBuilder summary(Grouping::kMonth);
  summary.Add(month.listed.at(0));
  EXPECT_THAT(summary.Table(month, TextEncoding::kUtf8),
              HasSubstr("Print report, all printers: December 2026\n"));
  EXPECT_THAT(summary.Table(month, TextEncoding::kUtf8), HasSubstr("Per user, December 2026\n"));
  EXPECT_EQ(PeriodText("20261101", "20261130"), "November 2026");
  EXPECT_EQ(PeriodText("20260201", "20260228"), "February 2026");
  EXPECT_EQ(PeriodText("20261101", "20261129"), "2026-11-01 to 2026-11-29");
  EXPECT_EQ(PeriodText("", "20261129"), "until 2026-11-29");
  EXPECT_EQ(ShownMonth("202612"), "December 2026");
}

// CostUnit "EUR/2": costs kept in cents shown as euros in every writer; a
// decimal comma in the CSV that ';' separates. Absent: the bare numbers of
// old, byte for byte.
TEST(CostUnitTest, CostsAreShownInTheUnitAndUnchangedWithoutOne) {
  EXPECT_EQ(CostText(1311, CostUnit{"EUR", 2}), "13.11 EUR");
  EXPECT_EQ(CostText(131100, CostUnit{"EUR", 2}), "1 311.00 EUR");
  EXPECT_EQ(CostText(-5, CostUnit{"EUR", 2}), "-0.05 EUR");
  EXPECT_EQ(CostText(1311, CostUnit{"CHF", 0}), "1 311 CHF");
  EXPECT_EQ(CostText(1311, CostUnit{}), "1 311");
  CostUnit unit;
  for (const char* bad : {"EUR/5", "/2", "E R", "EUR/", "EUR/x", "â¬", "TOOLONGUNIT"}) {
    EXPECT_THAT(ParseCostUnit(bad, &unit), HasSubstr("no cost unit")) << bad;
  }
  EXPECT_EQ(ParseCostUnit("EUR/2", &unit), "");
  EXPECT_EQ(unit.unit + std::to_string(unit.decimals), "EUR2");

  auto report = [](const CostUnit& costUnit) {
    ReportBuilder builder;
    builder.Describe("", "", TextEncoding::kWindows1252, costUnit);
    builder.AddLog(Log("HP", Entry("2026/12/07", 1, "anna", "HP", "d", 3, 131100), 131100));
    return builder.Finish();
  };
  const Report euros = report(CostUnit{"EUR", 2});
  EXPECT_THAT(ReportHtml(euros), HasSubstr("id=\"total\">1&#8239;311.00 EUR<"));
  EXPECT_THAT(ReportText(euros), HasSubstr("Total cost: 1 311.00 EUR\n"));
  EXPECT_THAT(ReportText(euros), HasSubstr("cost 1 311.00 EUR"));
  const Report bare = report(CostUnit{});
  EXPECT_THAT(ReportHtml(bare), HasSubstr("id=\"total\">131&#8239;100<"));
  EXPECT_THAT(ReportText(bare), HasSubstr("Total cost: 131 100\n"));

  for (const auto& [costUnit, separator, expected] :
       {std::tuple{CostUnit{"EUR", 2}, ',',
                   "pages,cost (EUR)\r\n2026/12/07,10:00:00,1,anna,HP,d,3,1311.00\r\n"},
        std::tuple{CostUnit{"EUR", 2}, ';',
                   "pages;cost (EUR)\r\n2026/12/07;10:00:00;1;anna;HP;d;3;\"1311,00\"\r\n"},
        std::tuple{CostUnit{}, ',',
                   "pages,cost\r\n2026/12/07,10:00:00,1,anna,HP,d,3,131100\r\n"}}) {
    CsvDialect dialect;
    dialect.separator = separator;
    CsvRows rows(CsvCost{costUnit, DecimalPoint(dialect)});
    rows.Add(euros.listed.at(0));
    EXPECT_THAT(InDialect(rows.Text(), dialect, true), HasSubstr(expected));
  }
}

// The database gives UTF-8, the logs windows-1252: the same jobs give the
// same CSV and the same page in either encoding, the euro sign kept.
TEST(ReportTest, TheSameJobsFromEitherSourceGiveTheSameBytes) {
  std::vector<Job> fromLog, fromDatabase;
  ReportBuilder logs(kListedJobs, [&](const Job& job) { fromLog.push_back(job); });
  logs.Describe("20261207", "20261207", TextEncoding::kWindows1252, CostUnit{"EUR", 2});
  logs.AddLog(Log("HP", Entry("2026/12/07", 1, "J\xFCrgen", "HP", "5 \x80", 1, 1311), 1311));
  ReportBuilder database(kListedJobs, [&](const Job& job) { fromDatabase.push_back(job); });
  database.Describe("20261207", "20261207", TextEncoding::kUtf8, CostUnit{"EUR", 2});
  database.AddJob(
      Job{"2026/12/07", "10:00:00", "1", "J\xC3\xBCrgen", "HP", "5 \xE2\x82\xAC", 1, 1311});
  const Report a = logs.Finish(), b = database.Finish();
  for (const TextEncoding encoding : {TextEncoding::kUtf8, TextEncoding::kWindows1252}) {
    const CsvDialect dialect{';', encoding};
    CsvRows csvA(CsvCost{a.costUnit, ','}), csvB(CsvCost{b.costUnit, ','});
    csvA.Add(fromLog.at(0));
    csvB.Add(fromDatabase.at(0));
    EXPECT_EQ(InDialect(csvA.Text(), dialect, true, a.encoding),
              InDialect(csvB.Text(), dialect, true, b.encoding));
    // All but the line that names the source.
    auto page = [&](const Report& r) {
      std::string html = ReportHtmlIn(r, encoding);
      const std::size_t at = html.find("id=\"date\">");
      return html.erase(at, html.find('<', at) - at);
    };
    EXPECT_EQ(page(a), page(b));
  }
  EXPECT_THAT(ReportHtmlIn(b, TextEncoding::kWindows1252), HasSubstr("5 \x80"));
  EXPECT_THAT(ReportHtmlIn(a, TextEncoding::kUtf8), HasSubstr("5 \xE2\x82\xAC"));
}

// The CSV's order is the rows' own, newest first, whatever the source's; a
// quoted line break (a row of a database, which no log holds) stays in its row.
TEST(CsvTest, RowsAreSortedNewestFirstAndKeptWhole) {
  EXPECT_EQ(
      NewestRowsFirst("date,doc\r\n2026/12/05,a\r\n2026/12/07,\"b\r\nc\"\r\n2026/12/06,d\r\n"),
      "date,doc\r\n2026/12/07,\"b\r\nc\"\r\n2026/12/06,d\r\n2026/12/05,a\r\n");
  EXPECT_EQ(NewestRowsFirst("date,doc\r\n"), "date,doc\r\n");
}

TEST(GroupThousandsTest, Groups) {
  EXPECT_EQ(GroupThousands(0), "0");
  EXPECT_EQ(GroupThousands(999), "999");
  EXPECT_EQ(GroupThousands(1234567), "1 234 567");
  EXPECT_EQ(GroupThousands(-1000), "-1 000");
}

}  // namespace
}  // namespace pelko::report
