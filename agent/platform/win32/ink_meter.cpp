// Windows keeps no document the agent could measure: the spooler holds the
// job in the driver's own language, and the job's requested mode decides.
#include "agent/platform/ink_meter.h"

namespace pelko {

namespace {

class NoInkMeter : public InkMeter {
 public:
  InkStatus Measure(const std::string&, uint32_t, std::vector<PageInk>* pages,
                    const std::atomic<bool>&) override {
    pages->clear();
    return InkStatus::kUnsupported;
  }
};

}  // namespace

InkMeter& PlatformInkMeter() {
  static NoInkMeter meter;
  return meter;
}

}  // namespace pelko
