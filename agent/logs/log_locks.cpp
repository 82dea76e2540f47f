#include "agent/logs/log_locks.h"

namespace pelko {

std::unique_lock<std::mutex> LogLocks::Lock(const std::string& path) {
  std::mutex* lock;
  {
    std::lock_guard<std::mutex> guard(tableMutex);
    auto& slot = locks[path];
    if (!slot) slot = std::make_unique<std::mutex>();
    lock = slot.get();
  }
  return std::unique_lock<std::mutex>(*lock);
}

}  // namespace pelko
