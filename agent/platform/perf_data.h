#pragma once

namespace pelko {

class PerfData {
 public:
  virtual ~PerfData() = default;
};

PerfData& PlatformPerfData();

}  // namespace pelko
