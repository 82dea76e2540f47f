#include "agent/platform/logger.h"

namespace pelko {

void TroubleReport::Say(Severity severity, const std::string& key, const std::string& line,
                        uint64_t nowMs) {
  if (logger == nullptr) return;
  uint64_t repeats = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = seen.find(key);
    if (found != seen.end() && nowMs - found->second.saidAt < kWindowMs) {
      ++found->second.repeats;
      return;
    }
    // A table full of old troubles is forgotten whole rather than grow.
    if (found == seen.end() && seen.size() >= kMaxKeys) seen.clear();
    Seen& entry = seen[key];
    repeats = entry.repeats;
    entry = Seen{nowMs, 0};
  }
  if (repeats == 0) {
    logger->Write(severity, line);
  } else {
    logger->Write(severity, line + " (and " + std::to_string(repeats) +
                                " more times since it was last said)");
  }
}

}  // namespace pelko
