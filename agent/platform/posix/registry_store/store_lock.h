// The registry store's writers' lock: registry.lock in the store's folder,
// flocked around each change.
#pragma once

#include <cstdint>
#include <string>

namespace pelko {

// A fresh open file description per use, so that it excludes threads of one
// process and forked children alike. Released when destroyed.
class StoreLock {
 public:
  StoreLock() = default;
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  ~StoreLock();

  // Makes the store's folder when missing and takes the lock in it, waiting
  // a bounded time for another writer. On refusal *untrusted says why.
  int32_t Acquire(const std::string& folder, std::string* untrusted);

 private:
  int fd = -1;
};

}  // namespace pelko
