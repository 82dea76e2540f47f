#include "agent/platform/logger.h"

#include <syslog.h>

namespace pelko {

namespace {

class SyslogLogger : public Logger {
 public:
  SyslogLogger() { openlog("pelkomon", LOG_PID | LOG_NDELAY, LOG_DAEMON); }

  void Write(Severity severity, const std::string& line) override {
    const int priority = severity == Severity::kError     ? LOG_ERR
                         : severity == Severity::kWarning ? LOG_WARNING
                                                          : LOG_INFO;
    syslog(priority, "%s", line.c_str());
  }
};

}  // namespace

Logger& PlatformLogger() {
  static SyslogLogger service;
  return service;
}

}  // namespace pelko
