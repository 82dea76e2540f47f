#include "agent/util/unicode.h"

#include <gtest/gtest.h>

namespace pelko {
namespace {

// CUPS gives names in UTF-8; the logs hold windows-1252, which the reports
// read them as.
TEST(CupsNamesTest, LettersAndSignsOfTheCodePageBecomeTheirOneByte) {
  EXPECT_EQ(Utf8ToWindows1252("j\xC3\xBCrgen"), "j\xFCrgen");
  EXPECT_EQ(Utf8ToWindows1252("\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F"), "\xE4\xF6\xFC\xDF");
  EXPECT_EQ(Utf8ToWindows1252("plain & <ascii>"), "plain & <ascii>");
  EXPECT_EQ(Utf8ToWindows1252("5 \xE2\x82\xAC \xE2\x80\x93 \xE2\x80\x9Cq\xE2\x80\x9D"),
            "5 \x80 \x96 \x93q\x94");  // the euro sign, a dash, quotes
  for (int byte = 0x80; byte < 0x100; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(one)), one) << byte;
  }
}

TEST(CupsNamesTest, CharactersTheCodePageCannotHoldBecomeOneQuestionMark) {
  EXPECT_EQ(Utf8ToWindows1252("\xE6\x97\xA5\xE6\x9C\xAC"), "??");  // two CJK characters
  EXPECT_EQ(Utf8ToWindows1252("a\xF0\x9F\x98\x80z"), "a?z");       // outside the BMP
  EXPECT_EQ(Utf8ToWindows1252("\xC2\x80"), "?");  // a C1 control, not the euro sign
}

TEST(CupsNamesTest, BrokenUtf8NeverPassesThrough) {
  EXPECT_EQ(Utf8ToWindows1252("\xFF\xFE"), "??");
  EXPECT_EQ(Utf8ToWindows1252("ab\xC3"), "ab?");        // cut short at the end
  EXPECT_EQ(Utf8ToWindows1252("\xC3(x"), "?(x");        // lead without its follower
  EXPECT_EQ(Utf8ToWindows1252("\xC0\xAF"), "??");       // overlong "/"
  EXPECT_EQ(Utf8ToWindows1252("\xED\xA0\x80"), "???");  // a surrogate
  for (const std::string& out :
       {Utf8ToWindows1252("\x80\x81\xBF"), Utf8ToWindows1252("\xF5\x80")}) {
    for (char c : out) EXPECT_EQ(c, '?');
  }
}

// Under LogUtf8 the names stay whole; only bytes of no character become "?".
TEST(CupsNamesTest, ALogOfUtf8KeepsEveryCharacterAndNoBrokenByte) {
  const std::string lukasz =
      "\xC5\x81ukasz \xC5\xBB\xC3\xB3\xC5\x82\xC4\x87 \xE6\x97\xA5\xF0\x9F\x98\x80";
  EXPECT_EQ(Utf8ToLogText(lukasz, true), lukasz);
  EXPECT_EQ(Utf8ToLogText(lukasz, false), "?ukasz ?\xF3?? ??");
  EXPECT_EQ(Utf8ToLogText("a\xFF\xC3(\xED\xA0\x80z", true), "a??(???z");
  EXPECT_EQ(LogTextBetween("<user>j\xFC\x80</user>", false, true),
            "<user>j\xC3\xBC\xE2\x82\xAC</user>");
  EXPECT_EQ(LogTextBetween("<user>\xC5\x81\xC3\xBC</user>", true, false), "<user>?\xFC</user>");
}

}  // namespace
}  // namespace pelko
