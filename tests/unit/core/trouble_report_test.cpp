#include <gtest/gtest.h>

#include "agent/platform/logger.h"
#include "tests/fakes/fake_logger.h"

namespace pelko {
namespace {

TEST(TroubleReport, SaysEachTroubleOncePerWindowAndCountsRepeats) {
  FakeLogger logger;
  TroubleReport report(&logger);
  const uint64_t window = TroubleReport::kWindowMs;
  report.Say(Severity::kWarning, "write a", "cannot write a", 1000);
  report.Say(Severity::kWarning, "write a", "cannot write a", 1020);
  report.Say(Severity::kWarning, "write a", "cannot write a", 1040);
  report.Say(Severity::kWarning, "write b", "cannot write b", 1050);
  ASSERT_EQ(logger.Lines().size(), 2u);

  report.Say(Severity::kWarning, "write a", "cannot write a", 1000 + window);
  const auto lines = logger.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "cannot write a (and 2 more times since it was last said)");
  // Said by its key alone, as the logs say it, and kept on the counted line.
  EXPECT_EQ(logger.Kinds()[2], EventKind::kLogWriteFailed);
}

TEST(TroubleReport, ManyDistinctTroublesStayBounded) {
  FakeLogger logger;
  TroubleReport report(&logger);
  for (std::size_t i = 0; i < 3 * TroubleReport::kMaxKeys; ++i) {
    report.Say(Severity::kError, "k" + std::to_string(i), "t", 5);
  }
  EXPECT_EQ(logger.Lines().size(), 3 * TroubleReport::kMaxKeys);
  TroubleReport silent(nullptr);
  silent.Say(Severity::kError, "k", "nobody hears this", 0);
}

}  // namespace
}  // namespace pelko
