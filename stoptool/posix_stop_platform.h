#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stoptool/stop_platform.h"

namespace pelko::stoptool {

// Processes stand in for windows: the front end's "window" is the first
// process, in ascending id order, with the front end's name, and closing it
// sends SIGTERM. Processes are read from a proc file system.
class PosixStopPlatform : public StopPlatform {
 public:
  // self: the id of this program, which is never listed.
  PosixStopPlatform(std::string procRoot, uint32_t self);

  bool StartUp() override;
  std::optional<WindowId> FindWindowByTitle(const std::string& title) override;
  void PostClose(WindowId window) override;
  std::unique_ptr<ProcessSnapshot> TakeSnapshot() override;
  bool TerminateProcessById(uint32_t id) override;

  // Ascending by id. A process goes by several names (the executable's file,
  // the kernel's command name, argv[0] as a wrapper may have set it), so it
  // may appear once per distinct name, its entries adjacent. Processes none
  // of whose names can be read are left out. False if the list cannot be
  // read at all.
  bool ListProcesses(std::vector<ProcessEntry>* entries) const;

 private:
  std::string procRoot_;
  uint32_t self_;
};

}  // namespace pelko::stoptool
