#include "agent/platform/logger.h"

#include <windows.h>

namespace pelko {

namespace {

// The Event Log under the source "Pelko", which the installer registers with
// Pelkomon.exe as its message file: each kind is its event ID and its
// category, the line the one insertion string of the kind's message. Until
// then the viewer shows the lines with a note that the source is unknown,
// but they are there.
class EventLogger : public Logger {
 public:
  EventLogger() : source(RegisterEventSourceA(nullptr, "Pelko")) {}
  ~EventLogger() override {
    if (source != nullptr) DeregisterEventSource(source);
  }

  void Write(Severity severity, EventKind kind, const std::string& line) override {
    if (source == nullptr) return;
    const WORD type = severity == Severity::kError     ? EVENTLOG_ERROR_TYPE
                      : severity == Severity::kWarning ? EVENTLOG_WARNING_TYPE
                                                       : EVENTLOG_INFORMATION_TYPE;
    const char* strings[] = {line.c_str()};
    ReportEventA(source, type, static_cast<WORD>(CategoryOf(kind)), EventId(kind), nullptr, 1, 0,
                 strings, nullptr);
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
