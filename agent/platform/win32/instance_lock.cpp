// The agent's lock on Windows: a named mutex in the global namespace, so
// that the service and an agent started by hand in any session see one
// another. Held by its handle until the process ends.
#include <windows.h>

#include "agent/platform/instance_lock.h"

namespace pelko {
namespace {

class MutexInstanceLock : public InstanceLock {
 public:
  bool Take(std::string* holder, std::string* error) override {
    holder->clear();
    mutex = CreateMutexA(nullptr, TRUE, "Global\\Pelkomon");
    if (mutex == nullptr) {
      // Made by an account whose mutex this one may not open: held all the same.
      if (GetLastError() == ERROR_ACCESS_DENIED) {
        *holder = "the Pelkomon service, or one started by hand";
        return false;
      }
      *error =
          "cannot make the mutex Global\\Pelkomon (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(mutex);
      mutex = nullptr;
      *holder = "the Pelkomon service, or one started by hand";
      return false;
    }
    return true;
  }

 private:
  HANDLE mutex = nullptr;
};

}  // namespace

InstanceLock& PlatformInstanceLock() {
  static MutexInstanceLock lock;
  return lock;
}

}  // namespace pelko
