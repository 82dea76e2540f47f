#include "agent/logs/log_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelko {
namespace {

const char kGoodEntry[] =
    "<entry> <date>2026/12/06</date><time>09:05:03</time> <id>7</id><user>paul</user> "
    "<printer>HP</printer><doc>a<b.doc</doc> <pages>3</pages> <cost>15</cost></entry>";

// A file of entries whose closing pieces never come: every search for one
// once ran to the end of the file, so reading took time in the square of its
// size (37 s for 1 MiB, hours at the read cap).
std::string Hostile(const std::string& opening, std::size_t size) {
  std::string text(kLogProlog);
  text += "<log> <type>HP</type> <date>2026/12/06</date>";
  text += kGoodEntry;
  while (text.size() < size) text += opening;
  text += kGoodEntry;
  return text;
}

TEST(ReadLogEntriesTest, AHostileLogIsReadInWorkLinearInItsSize) {
  constexpr std::size_t kSize = 1 << 20;
  for (const std::string opening :
       {"<entry> <date><",
        "<entry> <date>a<b</date><time>1</time> <id>2</id><user>u</user> "
        "<printer>p</printer><doc>d</doc> <pages>1</pages> <cost>1<"}) {
    const std::string text = Hostile(opening, kSize);
    std::vector<LogEntry> entries;
    log_format_detail::searchedBytes = 0;
    EXPECT_EQ(ReadLogEntries(text, &entries), std::string_view::npos);
    // At most one search per value, each to the next entry at the furthest.
    EXPECT_LE(log_format_detail::searchedBytes, 8 * text.size()) << opening;
    ASSERT_EQ(entries.size(), 2u) << opening;
    EXPECT_EQ(entries[1].doc, "a<b.doc");
    EXPECT_EQ(EntryCost(entries[1]), 15);
  }
}

TEST(LogFormatTest, LeadingIntReadsLikeAtoi) {
  EXPECT_EQ(LeadingInt("  -12x"), -12);
  EXPECT_EQ(LeadingInt("+7"), 7);
  EXPECT_EQ(LeadingInt("x7"), 0);
  EXPECT_EQ(LeadingInt(""), 0);
  EXPECT_EQ(LeadingInt("\t\n 42 5"), 42);
  EXPECT_EQ(LeadingInt("2147483648"), INT32_MIN);  // wraps, never traps
}

TEST(LogFormatTest, HeadsAndTimes) {
  EXPECT_EQ(DailyLogHead("\\\\SRV\\HP", LocalTime{2026, 3, 4, 9, 0, 0, 0}),
            "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' "
            "type='text/xsl' ?><log> <type>\\\\SRV\\HP</type> <date>2026/03/04</date>");
  EXPECT_EQ(GlobalLogHead(LocalTime{2026, 3, 4, 9, 0, 0, 0}),
            "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' "
            "type='text/xsl' ?><log><type>Global Log</type><date>2026/03/04</date>");
  EXPECT_EQ(GlobalLogHead(LocalTime{2026, 3, 4, 9, 0, 0, 0}, "", true),
            "<?xml version='1.0' encoding='UTF-8' ?> <log><type>Global "
            "Log</type><date>2026/03/04</date>");
  EXPECT_TRUE(DeclaresUtf8(DailyLogHead("P", LocalTime{2026, 3, 4, 9, 0, 0, 0}, true)));
  EXPECT_FALSE(DeclaresUtf8(DailyLogHead("P", LocalTime{2026, 3, 4, 9, 0, 0, 0})));
  EXPECT_TRUE(DeclaresUtf8("<?xml version=\"1.0\" encoding=\"utf8\"?><log>"));
  // Only the declaration tells, never a name further on.
  EXPECT_FALSE(DeclaresUtf8("<?xml version='1.0' ?><log><type>encoding='UTF-8'</type>"));
  EXPECT_FALSE(DeclaresUtf8("<log encoding='UTF-8'>"));
  EXPECT_EQ(FormatLogTime(LocalTime{2026, 3, 4, 9, 5, 3, 0}), "09:05:03");
  EXPECT_EQ(FormatLogTime(LocalTime{2026, 3, 4, 23, 59, 10, 0}), "23:59:10");
}

}  // namespace
}  // namespace pelko
