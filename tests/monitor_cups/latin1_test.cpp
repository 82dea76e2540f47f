#include "agent/platform/posix/latin1.h"

#include <gtest/gtest.h>

namespace pelko {
namespace {

TEST(Latin1Test, LatinLettersBecomeTheirOneByte) {
  EXPECT_EQ(Latin1FromUtf8("j\xC3\xBCrgen"), "j\xFCrgen");
  EXPECT_EQ(Latin1FromUtf8("\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F"), "\xE4\xF6\xFC\xDF");
  EXPECT_EQ(Latin1FromUtf8("plain & <ascii>"), "plain & <ascii>");
}

TEST(Latin1Test, CharactersLatin1CannotHoldBecomeOneQuestionMark) {
  EXPECT_EQ(Latin1FromUtf8("5 \xE2\x82\xAC"), "5 ?");           // the euro sign
  EXPECT_EQ(Latin1FromUtf8("\xE6\x97\xA5\xE6\x9C\xAC"), "??");  // two CJK characters
  EXPECT_EQ(Latin1FromUtf8("a\xF0\x9F\x98\x80z"), "a?z");       // outside the BMP
}

TEST(Latin1Test, BrokenUtf8NeverPassesThrough) {
  EXPECT_EQ(Latin1FromUtf8("\xFF\xFE"), "??");
  EXPECT_EQ(Latin1FromUtf8("ab\xC3"), "ab?");            // cut short at the end
  EXPECT_EQ(Latin1FromUtf8("\xC3(x"), "?(x");            // lead without its follower
  EXPECT_EQ(Latin1FromUtf8("\xC0\xAF"), "??");           // overlong "/"
  EXPECT_EQ(Latin1FromUtf8("\xED\xA0\x80"), "???");      // a surrogate
  for (const std::string& out : {Latin1FromUtf8("\x80\x81\xBF"), Latin1FromUtf8("\xF5\x80")}) {
    for (char c : out) EXPECT_EQ(c, '?');
  }
}

}  // namespace
}  // namespace pelko
