#pragma once

#include <set>
#include <string>
#include <vector>

#include "stoptool/win32/stop_platform.h"

namespace pelko::stoptool {

// Plays the operating system from a script and records, in order, what the
// stop tool asked of it.
class FakeStopPlatform : public StopPlatform {
 public:
  bool startUpFails = false;
  std::optional<WindowId> window;  // the window titled "Tavisk", if any
  bool snapshotFails = false;
  std::vector<ProcessEntry> processes;  // in snapshot order
  std::set<uint32_t> unopenable;

  std::vector<std::string> calls;

  bool StartUp() override {
    calls.push_back("start up");
    return !startUpFails;
  }

  std::optional<WindowId> FindWindowByTitle(const std::string& title) override {
    calls.push_back("find window " + title);
    return window;
  }

  void PostClose(WindowId target) override {
    calls.push_back("close window " + std::to_string(target));
  }

  std::unique_ptr<ProcessSnapshot> TakeSnapshot() override {
    calls.push_back("take snapshot");
    if (snapshotFails) return nullptr;
    return std::make_unique<Snapshot>(this);
  }

  bool TerminateProcessById(uint32_t id) override {
    if (unopenable.count(id) != 0) {
      calls.push_back("open refused " + std::to_string(id));
      return false;
    }
    calls.push_back("terminate " + std::to_string(id));
    return true;
  }

 private:
  class Snapshot : public ProcessSnapshot {
   public:
    explicit Snapshot(FakeStopPlatform* owner) : owner(owner) {}
    ~Snapshot() override { owner->calls.push_back("close snapshot"); }

    bool First(ProcessEntry* entry) override {
      next = 0;
      return Next(entry);
    }

    bool Next(ProcessEntry* entry) override {
      if (next >= owner->processes.size()) {
        owner->calls.push_back("end of snapshot");
        return false;
      }
      *entry = owner->processes[next++];
      owner->calls.push_back("read " + std::to_string(entry->id));
      return true;
    }

   private:
    FakeStopPlatform* owner;
    size_t next = 0;
  };
};

}  // namespace pelko::stoptool
