#pragma once

#include <cstdint>
#include <functional>

namespace pelko {

// A pause of the calling worker, handed to helpers that wait between
// retries; a worker's waiter throws WorkerStopping when it is asked to stop.
using Waiter = std::function<void(uint32_t ms)>;

}  // namespace pelko
