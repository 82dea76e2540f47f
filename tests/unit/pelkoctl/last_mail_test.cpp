// The mail program's record of its last sending: said once per kind of
// failure in a row and once when mail goes again, and told by check.
#include <gtest/gtest.h>

#include "agent/config/mail_outcome.h"
#include "pelkoctl/last_mail.h"
#include "tests/fakes/fake_registry.h"

namespace pelko {
namespace {

constexpr uint32_t kUnreachable = EventId(EventKind::kMailServerUnreachable);
constexpr uint32_t kLogin = EventId(EventKind::kMailLoginRefused);

TEST(LastMail, EachKindOfFailureIsSaidOnceAndTheRecoveryOnceAndCheckTellsTheLast) {
  FakeRegistry registry;
  EXPECT_FALSE(ctl::LastMailFinding(registry)) << "nothing before the first mailing";
  const std::string why = "cannot connect to 127.0.0.1:9";
  struct Step {
    MailOutcome outcome;
    bool said;
  };
  const Step steps[] = {
      {{0, "", "2026-12-08 06:00:00"}, false},  // sent from the start: nothing to say
      {{kUnreachable, why, "2026-12-08 07:00:00"}, true},
      {{kUnreachable, why, "2026-12-08 08:00:00"}, false},  // the retry
      {{kLogin, "the server refused the login of pelko", "2026-12-08 09:00:00"}, true},
      {{kUnreachable, why, "2026-12-08 10:00:00"}, true},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(RecordMailOutcome(registry, step.outcome), step.said) << step.outcome.time;
  }
  auto failed = ctl::LastMailFinding(registry);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->verdict, ctl::Verdict::kFault);
  EXPECT_EQ(failed->line,
            "the last mail, at 2026-12-08 10:00:00, was not sent (event 4010): " + why +
                "; check MailServer and MailPort, and that this computer may reach the server "
                "(firewall, proxy)");

  EXPECT_TRUE(RecordMailOutcome(registry, {0, "", "2026-12-08 11:00:00"}));
  EXPECT_FALSE(RecordMailOutcome(registry, {0, "", "2026-12-08 12:00:00"}));
  auto sent = ctl::LastMailFinding(registry);
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->verdict, ctl::Verdict::kOk);
  EXPECT_EQ(sent->line, "the last mail was sent, at 2026-12-08 12:00:00");
  EXPECT_EQ(ReadMailOutcome(registry).error, "") << "a sent mail clears the old failure";
}

}  // namespace
}  // namespace pelko
