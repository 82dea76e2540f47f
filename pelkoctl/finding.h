// One line of pelkoctl check, as each of its checks gives it.
#pragma once

#include <string>

namespace pelko::ctl {

enum class Verdict { kOk, kNote, kWarning, kFault };

struct Finding {
  Verdict verdict = Verdict::kOk;
  std::string line;
  std::string kind;  // a warning's kind, which AcceptedWarnings may name
};

}  // namespace pelko::ctl
