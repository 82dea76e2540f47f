#include "agent/accounting/page_color.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pelko {
namespace {

TEST(PageColor, JudgesTheDistanceFromNeutralNotTheInkLaid) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    PageInk ink;
    bool color;
  } cases[] = {
      {"black text", {0, 0, 0, 0.05}, false},
      {"black as four equal inks over half the page", {0.5, 0.5, 0.5, 0.5}, false},
      {"a grey photograph with a cast under the threshold", {0.30, 0.3049, 0.3049, 0}, false},
      {"the same cast just over it", {0.30, 0.3051, 0.3051, 0}, true},
      {"a small red logo", {0, 0.01, 0.01, 0.02}, true},
      {"yellow alone", {0, 0, 0.006, 0}, true},
      {"blue on a grey page", {0.4, 0.4, 0.39, 0.2}, true},
      {"a measure out of range", {2, -1, 0, 0}, true},
      {"a measure that is not a number", {nan, 0, 0, 0}, false},
      {"an empty page", {}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsColorPage(c.ink, kDefaultColorThreshold), c.color) << c.what;
  }
  EXPECT_EQ(ColorDistance({0.1, 0.2, 0.15, 0}), 1000u);
  // The threshold is the administrator's: 0 makes any tint colour.
  EXPECT_TRUE(IsColorPage({0.30, 0.3001, 0.30, 0}, 0));
  EXPECT_FALSE(IsColorPage({0, 1, 1, 0}, 10000));
}

TEST(PageColor, CountsTheColourPagesOfCollatedCopies) {
  const std::vector<bool> alternate = {true, false, true, false, false};
  EXPECT_EQ(ColorPagesAmong(alternate, 0), 0u);
  EXPECT_EQ(ColorPagesAmong(alternate, 1), 1u);
  EXPECT_EQ(ColorPagesAmong(alternate, 5), 2u);
  EXPECT_EQ(ColorPagesAmong(alternate, 13), 6u) << "two copies and three pages of a third";
  EXPECT_EQ(ColorPagesAmong({}, 7), 0u);
  EXPECT_EQ(ColorPagesAmong({true}, 4000000000u), 4000000000u);
  EXPECT_EQ(ColorPagesAmong({false, true}, 4000000001u), 2000000000u);
}

}  // namespace
}  // namespace pelko
