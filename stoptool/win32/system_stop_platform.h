#pragma once

#include <cstdint>
#include <string>

#include "stoptool/win32/stop_platform.h"

namespace pelko::stoptool {

class Win32StopPlatform : public StopPlatform {
 public:
  bool StartUp() override;
  std::optional<WindowId> FindWindowByTitle(const std::string& title) override;
  void PostClose(WindowId window) override;
  std::unique_ptr<ProcessSnapshot> TakeSnapshot() override;
  bool TerminateProcessById(uint32_t id) override;
};

// Case-insensitive equality of two texts in the ANSI code page of the given
// locale (an LCID), character by character rather than byte by byte, so the
// trail byte of a double-byte character is never case-folded on its own.
bool AnsiEqualsIgnoringCase(const std::string& a, const std::string& b, uint32_t locale);

}  // namespace pelko::stoptool
