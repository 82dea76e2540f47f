// The certificates the server's chain must end in when no MailCaFile is set.
#pragma once

#include <string>

namespace pelko::mail {

// PEM text of the machine's trusted roots to hand to libcurl, or empty for
// libcurl's own default. On Windows the roots are taken from the ROOT store,
// so that libcurl checks the chain itself: Schannel's own check is not
// everywhere the same (Wine makes none).
std::string TrustedRootsPem();

}  // namespace pelko::mail
