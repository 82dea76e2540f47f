// What a child of the agent does between fork and exec so that the program
// it becomes starts as any program does: no signal blocked, none caught or
// ignored (the agent's own dispositions are not the program's).
#pragma once

namespace pelko {

// Async-signal-safe: only for the child between fork and exec.
void DefaultSignals();

}  // namespace pelko
