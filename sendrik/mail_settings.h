// The mail program's settings, from the values under Software\Pelko. A value
// of the wrong type reads as missing, and every reading is checked: the
// program says which setting is wrong rather than mailing somewhere odd.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/platform/registry.h"

namespace pelko::mail {

// 3 encrypts where the server offers STARTTLS and sends plain where it does
// not: for a site whose relay may lack it, never the default.
enum class Security : uint32_t {
  kPlain = 0,
  kStartTls = 1,
  kImplicitTls = 2,
  kStartTlsIfOffered = 3
};

inline constexpr uint32_t kDefaultTimeoutSeconds = 60;

struct MailSettings {
  std::string toSendFile;  // ToSendFile, written by the agent
  std::string path;        // Path: where the logs folder lies
  std::string server;
  uint32_t port = 25;
  Security security = Security::kStartTls;
  std::string user, password;
  std::string from;
  std::vector<std::string> to;
  std::string subjectPrefix;
  std::string caFile;
  uint32_t timeoutSeconds = kDefaultTimeoutSeconds;  // the longest wait for the server
};

// Reads every setting. problems gets one line for each setting that is
// unusable; notes one for each that was ignored (wrong type) and defaulted.
MailSettings ReadMailSettings(Registry& registry, std::vector<std::string>* problems,
                              std::vector<std::string>* notes);

// Keeps password as MailPassword, sealed as the platform keeps it.
bool StoreMailPassword(Registry& registry, const std::string& password, std::string* error);

// "a@x; b@y ;" -> {"a@x", "b@y"}; "Name <a@x>" gives a@x. False, with the
// offending text in *bad, for an address that cannot be one.
bool SplitAddresses(const std::string& text, std::vector<std::string>* addresses, std::string* bad);

const char* SecurityName(Security security);

}  // namespace pelko::mail
