#include "agent/platform/logger.h"

#include <windows.h>

namespace pelko {

namespace {

// The Event Log under the source "Pelko", which the installer registers;
// until then the viewer shows the lines with a note that the source is
// unknown, but they are there.
class EventLogger : public Logger {
 public:
  EventLogger() : source(RegisterEventSourceA(nullptr, "Pelko")) {}
  ~EventLogger() override {
    if (source != nullptr) DeregisterEventSource(source);
  }

  void Write(Severity severity, const std::string& line) override {
    if (source == nullptr) return;
    const WORD type = severity == Severity::kError     ? EVENTLOG_ERROR_TYPE
                      : severity == Severity::kWarning ? EVENTLOG_WARNING_TYPE
                                                       : EVENTLOG_INFORMATION_TYPE;
    const char* strings[] = {line.c_str()};
    ReportEventA(source, type, 0, 1, nullptr, 1, 0, strings, nullptr);
  }

 private:
  HANDLE source;
};

}  // namespace

Logger& PlatformLogger() {
  static EventLogger service;
  return service;
}

}  // namespace pelko
