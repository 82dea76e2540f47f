#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sendrik/mail_message.h"
#include "sendrik/mail_settings.h"
#include "sendrik/sendrik_log.h"
#include "tests/fakes/fake_registry.h"

namespace pelko::mail {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class MailSettingsTest : public ::testing::Test {
 protected:
  MailSettingsTest() {
    registry.PutString("Software\\Pelko\\MailServer", "smtp.example.com");
    registry.PutString("Software\\Pelko\\MailFrom", "pelko@example.com");
    registry.PutString("Software\\Pelko\\MailTo", "a@example.com");
  }
  MailSettings Read() {
    problems.clear();
    notes.clear();
    return ReadMailSettings(registry, &problems, &notes);
  }

  FakeRegistry registry;
  std::vector<std::string> problems, notes;
};

TEST_F(MailSettingsTest, DefaultsAreStartTlsOnPort25AndTheirTlsPortIs465) {
  MailSettings s = Read();
  EXPECT_THAT(problems, IsEmpty());
  EXPECT_EQ(s.security, Security::kStartTls);
  EXPECT_EQ(s.port, 25u);
  EXPECT_EQ(s.timeoutSeconds, kDefaultTimeoutSeconds);
  registry.PutDword("Software\\Pelko\\MailSecurity", 2);
  EXPECT_EQ(Read().port, 465u);
  registry.PutDword("Software\\Pelko\\MailPort", 2525);
  EXPECT_EQ(Read().port, 2525u);
}

TEST_F(MailSettingsTest, WrongTypesReadAsMissingAndAreNoted) {
  registry.PutDword("Software\\Pelko\\MailServer", 1);
  registry.PutString("Software\\Pelko\\MailPort", "465");  // four bytes, like a number
  registry.PutString("Software\\Pelko\\MailSecurity", "2");
  const MailSettings s = Read();
  EXPECT_THAT(problems, ElementsAre(HasSubstr("MailServer (REG_SZ) is not set")));
  EXPECT_EQ(s.port, 25u);
  EXPECT_EQ(s.security, Security::kStartTls);
  EXPECT_EQ(notes.size(), 3u);
}

TEST_F(MailSettingsTest, OutOfRangeNumbersAndMissingAddressesAreProblems) {
  registry.PutDword("Software\\Pelko\\MailSecurity", 4);
  registry.PutDword("Software\\Pelko\\MailPort", 70000);
  registry.Remove("Software\\Pelko\\MailFrom");
  registry.PutString("Software\\Pelko\\MailTo", " ; ");
  Read();
  EXPECT_EQ(problems.size(), 4u);
}

TEST_F(MailSettingsTest, StartTlsWhereOfferedIsTheFourthMode) {
  registry.PutDword("Software\\Pelko\\MailSecurity", 3);
  const MailSettings s = Read();
  EXPECT_THAT(problems, IsEmpty());
  EXPECT_EQ(s.security, Security::kStartTlsIfOffered);
  EXPECT_EQ(s.port, 25u);
}

TEST(SplitAddressesTest, SemicolonsSpacesAndDisplayNames) {
  std::vector<std::string> to;
  std::string bad;
  ASSERT_TRUE(SplitAddresses(" a@x.org;Bob <b@y.org> ; ;c@z", &to, &bad));
  EXPECT_THAT(to, ElementsAre("a@x.org", "b@y.org", "c@z"));
}

TEST(SplitAddressesTest, NothingThatCouldEndACommandOrAHeader) {
  std::vector<std::string> to;
  std::string bad;
  for (const char* text : {"a@x\r\nRCPT TO:<evil@y>", "a@x>evil", "a b@x", "@x", "a@", "a@b@c"}) {
    EXPECT_FALSE(SplitAddresses(text, &to, &bad)) << text;
  }
}

TEST(HeaderTextTest, AsciiStaysAndAnsiIsEncoded) {
  EXPECT_EQ(HeaderText("Print report: total 1 250"), "Print report: total 1 250");
  EXPECT_EQ(HeaderText("Drucker J\xFCrgen"), "=?windows-1252?Q?Drucker_J=FCrgen?=");
  EXPECT_EQ(HeaderText("a\r\nBcc: x@y"), "aBcc: x@y");
  const std::string longer = HeaderText(std::string(100, '\xE9'));
  EXPECT_EQ(longer.find('\n'), std::string::npos);
  for (std::size_t at = 0, next; at < longer.size(); at = next + 1) {
    next = longer.find(' ', at);
    if (next == std::string::npos) next = longer.size();
    EXPECT_LE(next - at, 75u) << "an encoded word is at most 75 characters";
  }
}

// Each letter as "A" or "a", each digit as "9", a sign as "+".
std::string Shape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c >= 'A' && c <= 'Z'   ? 'A'
           : c >= 'a' && c <= 'z' ? 'a'
           : c >= '0' && c <= '9' ? '9'
           : c == '-'             ? '+'
                                  : c;
  }
  return out;
}

TEST(MailDateTest, HasTheFormOfMailDates) {
  EXPECT_EQ(Shape(MailDate(1796667936)), "Aaa, 99 Aaa 9999 99:99:99 +9999");
}

TEST(MessageTest, SubjectHeadersAndAttachmentName) {
  MailSettings s;
  s.from = "pelko@example.com";
  s.to = {"a@x.org", "b@y.org"};
  s.subjectPrefix = "[Office]";
  report::Report r;
  r.headDate = "2026/12/07";
  r.recordedTotal = 1234567;
  const MailMessage m = BuildMessage(s, r, "C:\\Pelko\\Logs\\GlobalLog_20261207.xml", 0);
  EXPECT_THAT(m.headers,
              ::testing::Contains("Subject: [Office] Print report 2026/12/07: total 1 234 567"));
  EXPECT_THAT(m.headers, ::testing::Contains("To: a@x.org, b@y.org"));
  EXPECT_EQ(m.attachmentName, "GlobalLog_20261207.xml");
  EXPECT_EQ(m.html.find("\n"), m.html.find("\r\n") + 1) << "CR LF line ends";
}

// The mailed log's report splits pages as pelkoreport does: colour and mono
// where entries have details, and the pages of the entry written before
// LogJobDetails was set not told apart rather than called mono.
TEST(MessageTest, PagesOfJobsWithDetailsAreSplitPerUserAndPrinter) {
  const std::string entry =
      "<entry> <date>2026/12/10</date><time>09:00:00</time> <id>7</id>"
      "<user>paul</user> <printer>HP</printer><doc>d</doc> <pages>3</pages> "
      "<cost>15</cost>";
  const std::string details =
      " <copies>3</copies><colorpages>2</colorpages><monopages>4</monopages> "
      "<sides>two-sided-long-edge</sides><paper>A4</paper><client>pc12"
      "</client><colorfrom>request</colorfrom></entry>";
  std::string told = entry + details;
  told.replace(told.find("paul"), 4, "anna");
  told.replace(told.find("<pages>3"), 8, "<pages>6");
  report::ReportBuilder builder;
  builder.AddLog("<?xml version='1.0' ?><log> <type>HP</type> <date>2026/12/10</date>" + told +
                 entry + "</entry><entry><user>Total</user><cost>30</cost></entry></log>");
  const MailMessage m = BuildMessage(MailSettings{}, builder.Finish(), "HP_20261210.xml", 0);
  EXPECT_THAT(m.text,
              HasSubstr("Pages:      9\r\n  Colour: 2\r\n  Mono: 4\r\n  Not told apart: 3\r\n"));
  EXPECT_THAT(m.text,
              HasSubstr("  User           Jobs       Pages          Cost      Colour        Mono"
                        "  Not told apart\r\n  anna              1           6            15"
                        "           2           4               0\r\n"));
  EXPECT_THAT(m.text,
              HasSubstr("  All printers         2           9            30           2           4"
                        "               3\r\n"));
  EXPECT_THAT(m.text, HasSubstr("cost 15  colour 2, mono 4\r\n"));
  EXPECT_THAT(m.html,
              HasSubstr("<th class=\"num\">Cost</th><th class=\"num\">Colour</th>"
                        "<th class=\"num\">Mono</th><th class=\"num\">Not told apart</th>"));
  EXPECT_THAT(m.html, HasSubstr("<td>paul</td><td class=\"num\">1</td><td class=\"num\">3</td>"
                                "<td class=\"num\">15</td><td class=\"num\">0</td>"
                                "<td class=\"num\">0</td><td class=\"num\">3</td>"));
}

}  // namespace
}  // namespace pelko::mail
