#include "agent/config/mail_outcome.h"

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"

namespace pelko {

MailOutcome ReadMailOutcome(Registry& registry) {
  return {RegistryDwordValue(registry, settings::kLastMailResult).Read(),
          RegistryStringValue(registry, settings::kLastMailError).Read(),
          RegistryStringValue(registry, settings::kLastMailTime).Read()};
}

bool RecordMailOutcome(Registry& registry, const MailOutcome& outcome) {
  RegistryDwordValue result(registry, settings::kLastMailResult);
  const uint32_t before = result.Read();
  result.Set(outcome.result);
  RegistryStringValue(registry, settings::kLastMailError).Set(outcome.error);
  RegistryStringValue(registry, settings::kLastMailTime).Set(outcome.time);
  return before != outcome.result;
}

std::string MailFailureFix(uint32_t result) {
  switch (static_cast<EventKind>(result)) {
    case EventKind::kMailServerUnreachable:
      return "check MailServer and MailPort, and that this computer may reach the server "
             "(firewall, proxy)";
    case EventKind::kMailLoginRefused:
      return "check MailUser and set the password again: Sendrik.exe /SetPassword";
    case EventKind::kMailTlsFailed:
      return "check MailSecurity against the server's port (1 STARTTLS on 587, 2 TLS on 465) "
             "and MailCaFile";
    case EventKind::kMailRejected:
      return "check MailFrom and MailTo against what the server accepts";
    case EventKind::kMailNothingToSend:
      return "mend the mail settings named above";
    default:
      return "read Sendrik.log in the Logs folder";
  }
}

}  // namespace pelko
