// A bound on every call of a connection that the driver cannot give: the
// query timeout asks the server to give up, and a server process that has
// stopped (frozen, swapped out, stopped in a debugger) neither gives up nor
// lets TCP notice anything. Each call runs on a thread of the connection's
// own; the caller waits no longer than the bound. A call that overruns
// leaves the connection to that thread, which rolls back and closes it
// whenever the server answers again, and the connection reads as lost.
#pragma once

#include <cstdint>
#include <memory>

#include "agent/platform/sql.h"

namespace pelko {

// Connections given up on and still waiting for their server: beyond this
// many, no call is made on a new one (each holds a thread and a socket).
inline constexpr int kMostAbandonedConnections = 4;

// Null, with inner closed, when the system gives no thread for it.
std::unique_ptr<SqlConnection> BoundCalls(std::unique_ptr<SqlConnection> inner, uint32_t boundMs);

// How many connections given up on still wait for their server.
int AbandonedConnections();

}  // namespace pelko
