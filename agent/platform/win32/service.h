#pragma once

#include <cstdint>
#include <functional>

namespace pelko {

// The agent's body: runs until the quit message reaches the calling thread's
// loop and returns the process's exit status.
using ServiceBody = std::function<int()>;

// When the service manager started this process, runs `body` as the service
// `name` on the manager's service thread, turns its stop and shutdown
// controls into the quit message for that thread's loop (telling the manager
// to allow stopWaitMs), reports the service stopped with the body's status,
// stores that status in *status and returns true. Returns false at once when
// the process was started by hand (its parent is not the service manager),
// so the caller runs `body` itself.
bool RunAsService(const char* name, uint32_t stopWaitMs, const ServiceBody& body, int* status);

}  // namespace pelko
