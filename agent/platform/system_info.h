#pragma once

namespace pelko {

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
};

SystemInfo& PlatformSystemInfo();

}  // namespace pelko
