#include "sendrik/trust_roots.h"

namespace pelko::mail {

std::string TrustedRootsPem() { return ""; }

}  // namespace pelko::mail
