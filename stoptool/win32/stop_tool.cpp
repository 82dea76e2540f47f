#include "stoptool/win32/stop_tool.h"

namespace pelko::stoptool {

int RunStopTool(StopPlatform& platform, std::ostream& err) {
  if (!platform.StartUp()) {
    err << kStartUpFailure << '\n' << std::flush;
    return 1;
  }

  // Each step runs whatever the one before found; nothing after start-up is
  // reported.
  if (std::optional<StopPlatform::WindowId> window = platform.FindWindowByTitle(kFrontEndTitle)) {
    platform.PostClose(*window);
  }

  std::unique_ptr<ProcessSnapshot> snapshot = platform.TakeSnapshot();
  std::optional<uint32_t> agent;
  if (snapshot) {
    ProcessEntry entry;
    for (bool more = snapshot->First(&entry); more; more = snapshot->Next(&entry)) {
      if (IsAgentExeName(entry.exeName)) {
        agent = entry.id;
        break;
      }
    }
  }

  // The agent has no stop protocol: it is ended at once.
  if (agent) platform.TerminateProcessById(*agent);
  snapshot.reset();
  return 0;
}

}  // namespace pelko::stoptool
