#include "tests/lib/same_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace pelko {
namespace {

using ::testing::HasSubstr;

const std::string kHead = "<log><type>Global Log</type><date>2026/12/06</date>";
const std::string kEntry = "<entry> <id>7</id><user>J\xFCrgen</user> <cost>15</cost></entry>";

std::string Log(const std::string& total, const std::string& tail = "</log>") {
  return kHead + kEntry + "<entry><user>Total</user><cost>" + total + "</cost></entry>" + tail;
}

TEST(SameLogTest, NamesTheTotalAndShowsWhatATerminalWouldHide) {
  EXPECT_TRUE(SameLog(Log("15"), Log("15")));

  const auto total = SameLog(Log("16"), Log("15"));
  EXPECT_FALSE(total);
  EXPECT_THAT(total.message(), HasSubstr("first difference: the Total entry, at byte 32\n"));

  // A line end after the log shows, and an escaped letter moves the caret
  // by its four characters.
  const auto lineEnd = SameLog(kEntry + "\n", kEntry);
  EXPECT_THAT(lineEnd.message(), HasSubstr("first difference: the tail, at byte 0\n"
                                           "  actual:   \\x0A\n"));
  const auto letter =
      SameLog("<entry> <user>J\xFCrgen</user></entry>", "<entry> <user>J\xFCrgem</user></entry>");
  // 12 for the label, 22 for <entry> <user>J\xFCrge
  EXPECT_THAT(letter.message(), HasSubstr("  actual:   <entry> <user>J\\xFCrgen</user></entry>\n"
                                          "  expected: <entry> <user>J\\xFCrgem</user></entry>\n" +
                                          std::string(12 + 22, ' ') + "^"));
}

TEST(SameLogTest, NoFileIsNeverTheExpectedLog) {
  EXPECT_FALSE(SameLog(std::optional<std::string>(), Log("15")));
  EXPECT_FALSE(SameLog(std::optional<std::string>(), ""));
  EXPECT_TRUE(SameLog(std::optional<std::string>(Log("15")), Log("15")));
}

}  // namespace
}  // namespace pelko
