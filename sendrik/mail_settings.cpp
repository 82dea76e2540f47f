#include "sendrik/mail_settings.h"

#include <algorithm>
#include <cstring>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/util/coding.h"
#include "agent/platform/sql.h"

namespace pelko::mail {

namespace {

// The one key the settings live in, open for reading while they are read.
class SettingsKey {
 public:
  explicit SettingsKey(Registry& registry) : registry(registry) {
    if (registry.OpenKey(RootKey::kLocalMachine, settings::kKey, kKeyRead, &key) != kErrorSuccess) {
      key = nullptr;
    }
  }
  ~SettingsKey() {
    if (key) registry.CloseKey(key);
  }

  // kErrorSuccess, kErrorFileNotFound, or any other status; *type as stored.
  int32_t Query(const char* name, uint32_t* type, std::string* data) {
    if (!key) return kErrorFileNotFound;
    return QueryValueBytes(registry, key, name, type, data);
  }

  // Text of a REG_SZ (or REG_EXPAND_SZ) value; missing otherwise.
  bool Text(const char* name, std::string* text, std::vector<std::string>* notes) {
    uint32_t type = 0;
    std::string data;
    if (Query(name, &type, &data) != kErrorSuccess) return false;
    if (type != kRegSz && type != kRegExpandSz) {
      notes->push_back(std::string(name) + " is not a REG_SZ value: ignored");
      return false;
    }
    text->assign(data.c_str(), strnlen(data.c_str(), data.size()));
    return true;
  }

  bool Number(const char* name, uint32_t* number, std::vector<std::string>* notes) {
    uint32_t type = 0;
    std::string data;
    if (Query(name, &type, &data) != kErrorSuccess) return false;
    if (type != kRegDword || data.size() != 4) {
      notes->push_back(std::string(name) + " is not a REG_DWORD value: ignored");
      return false;
    }
    *number = static_cast<uint32_t>(DecodeLittleEndian(data));
    return true;
  }

 private:
  Registry& registry;
  RegKey key = nullptr;
};

// The value's name alone, out of the agent's path of it.
std::string ValueName(const char* path) {
  std::string keyPath;
  std::string name;
  SplitRegistryPath(path, &keyPath, &name);
  return name;
}

// Nothing that could end a command line or a header, nothing but one "@".
bool IsAddress(const std::string& address) {
  if (address.empty() || address.size() > 254) return false;
  const std::size_t at = address.find('@');
  if (at == 0 || at == std::string::npos || at + 1 == address.size() ||
      address.find('@', at + 1) != std::string::npos) {
    return false;
  }
  return std::none_of(address.begin(), address.end(), [](char c) {
    const unsigned char b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7F || std::strchr("<>(),;:\\\"[]", c) != nullptr;
  });
}

}  // namespace

bool SplitAddresses(const std::string& text, std::vector<std::string>* addresses,
                    std::string* bad) {
  addresses->clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string one = TrimBlanks(text.substr(start, end - start));
    const bool control = std::any_of(one.begin(), one.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    if (control) {
      *bad = one;
      return false;
    }
    const std::size_t open = one.rfind('<');
    if (open != std::string::npos && !one.empty() && one.back() == '>') {
      one = TrimBlanks(one.substr(open + 1, one.size() - open - 2));
    }
    if (!one.empty()) {
      if (!IsAddress(one)) {
        *bad = one;
        return false;
      }
      addresses->push_back(one);
    }
    start = end + 1;
  }
  return true;
}

const char* SecurityName(Security security) {
  switch (security) {
    case Security::kPlain:
      return "no encryption";
    case Security::kStartTls:
      return "STARTTLS";
    case Security::kImplicitTls:
      return "TLS";
    case Security::kStartTlsIfOffered:
      return "STARTTLS where offered";
  }
  return "?";
}

bool StoreMailPassword(Registry& registry, const std::string& password, std::string* error) {
  return StoreSealedPassword(registry, settings::kKey, settings::kMailPassword, password, error);
}

MailSettings ReadMailSettings(Registry& registry, std::vector<std::string>* problems,
                              std::vector<std::string>* notes) {
  SettingsKey key(registry);
  MailSettings s;
  key.Text(ValueName(settings::kToSendFile).c_str(), &s.toSendFile, notes);
  key.Text(ValueName(settings::kPath).c_str(), &s.path, notes);
  if (!key.Text(settings::kMailServer, &s.server, notes) ||
      (s.server = TrimBlanks(s.server)).empty()) {
    problems->push_back("MailServer (REG_SZ) is not set: no server to send to");
  } else if (s.server.find_first_of(" /?#@[]") != std::string::npos &&
             !(s.server.front() == '[' && s.server.back() == ']')) {
    problems->push_back("MailServer '" + s.server + "' is no host name or address");
  }
  uint32_t security = 1;
  key.Number(settings::kMailSecurity, &security, notes);
  if (security > 3) {
    problems->push_back("MailSecurity " + std::to_string(security) +
                        " is none of 0 (plain), 1 (STARTTLS), 2 (TLS) and 3 (STARTTLS where "
                        "offered)");
  } else {
    s.security = static_cast<Security>(security);
  }
  s.port = s.security == Security::kImplicitTls ? 465 : 25;
  uint32_t port = 0;
  if (key.Number(settings::kMailPort, &port, notes)) {
    if (port == 0 || port > 65535) {
      problems->push_back("MailPort " + std::to_string(port) + " is no port (1 to 65535)");
    } else {
      s.port = port;
    }
  }
  key.Text(settings::kMailUser, &s.user, notes);
  SealedPassword sealed;
  std::string trouble;
  if (key.Query(settings::kMailPassword, &sealed.type, &sealed.data) == kErrorSuccess &&
      !OpenPassword(settings::kMailPassword, sealed, &s.password, &trouble,
                    "Sendrik.exe /setpassword")) {
    problems->push_back(trouble);
  }
  std::string text, bad;
  std::vector<std::string> from;
  if (!key.Text(settings::kMailFrom, &text, notes) || TrimBlanks(text).empty()) {
    problems->push_back("MailFrom (REG_SZ) is not set: no sender address");
  } else if (!SplitAddresses(text, &from, &bad) || from.size() != 1) {
    problems->push_back("MailFrom '" + text + "' is not one mail address");
  } else {
    s.from = from.front();
  }
  text.clear();
  if (!key.Text(settings::kMailTo, &text, notes) || TrimBlanks(text).empty()) {
    problems->push_back("MailTo (REG_SZ) is not set: no one to send to");
  } else if (!SplitAddresses(text, &s.to, &bad)) {
    problems->push_back("MailTo holds '" + bad + "', which is no mail address");
  } else if (s.to.empty()) {
    problems->push_back("MailTo holds no address");
  }
  key.Text(settings::kMailSubject, &s.subjectPrefix, notes);
  key.Text(settings::kMailCaFile, &s.caFile, notes);
  uint32_t timeout = 0;
  if (key.Number(settings::kMailTimeout, &timeout, notes)) {
    s.timeoutSeconds = std::clamp<uint32_t>(timeout, 1, 3600);
  }
  return s;
}

}  // namespace pelko::mail
