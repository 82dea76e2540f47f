#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "agent/platform/logger.h"

namespace pelko {

// Keeps every line written, for tests to read.
class FakeLogger : public Logger {
 public:
  void Write(Severity severity, EventKind kind, const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
    severities.push_back(severity);
    kinds.push_back(kind);
  }
  std::vector<EventKind> Kinds() {
    std::lock_guard<std::mutex> lock(mutex);
    return kinds;
  }
  std::vector<Severity> Severities() {
    std::lock_guard<std::mutex> lock(mutex);
    return severities;
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
  }
  // The kind of the first line that contains text; kOther for none.
  EventKind KindOf(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].find(text) != std::string::npos) return kinds[i];
    }
    return EventKind::kOther;
  }
  // Lines that contain text.
  int Count(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (const auto& line : lines) n += line.find(text) != std::string::npos;
    return n;
  }

 private:
  std::mutex mutex;
  std::vector<std::string> lines;
  std::vector<Severity> severities;
  std::vector<EventKind> kinds;
};

}  // namespace pelko
