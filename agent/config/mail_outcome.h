// What the mail program leaves, in the Pelko key, of its last sending, for
// `pelkoctl check` to tell and for its next run to know whether the Event
// Log (or syslog) already heard of a failure of that kind:
//   LastMailResult  REG_DWORD  0 once sent; else the event ID of the
//                              failure's kind (4010 to 4015, docs/monitoring.md)
//   LastMailError   REG_SZ     why not, in one line; empty once sent
//   LastMailTime    REG_SZ     the local time of the sending, "YYYY-MM-DD HH:MM:SS"
#pragma once

#include <cstdint>
#include <string>

#include "agent/platform/event_kind.h"
#include "agent/platform/registry.h"

namespace pelko {

struct MailOutcome {
  uint32_t result = 0;  // 0 sent, else an EventId
  std::string error;
  std::string time;
};

// An outcome never recorded reads as sent, with no time.
MailOutcome ReadMailOutcome(Registry& registry);

// Records outcome; true when the system's log should hear of it: a failure
// of another kind than the last outcome's, or the first sending after a
// failure. A failure repeated at every mailing is said once.
bool RecordMailOutcome(Registry& registry, const MailOutcome& outcome);

// What an administrator does about a failure of that result.
std::string MailFailureFix(uint32_t result);

}  // namespace pelko
