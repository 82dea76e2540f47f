// Sends one message over SMTP through libcurl: plain, STARTTLS or implicit
// TLS, with or without a login, certificates checked, every wait bounded.
#pragma once

#include <string>
#include <string_view>

#include "agent/platform/event_kind.h"
#include "sendrik/mail_message.h"
#include "sendrik/mail_settings.h"

namespace pelko::mail {

// The longest a whole sending may take, however steadily the server answers.
inline constexpr long kLongestSendSeconds = 1800;

struct SendResult {
  bool sent = false;
  std::string failure;                       // why not, in one line
  EventKind kind = EventKind::kMailNotSent;  // the failure's kind
};

// The server and how it is reached, for the log: "smtp://host:587 (STARTTLS)".
std::string ServerText(const MailSettings& settings);

// attachment is sent byte for byte, base64-encoded; it must outlive the call.
SendResult SendMail(const MailSettings& settings, const MailMessage& message,
                    std::string_view attachment);

}  // namespace pelko::mail
