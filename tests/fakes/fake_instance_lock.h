#pragma once

#include <string>

#include "agent/platform/instance_lock.h"

namespace pelko {

// A lock held by whoever the test says.
class FakeInstanceLock : public InstanceLock {
 public:
  bool Take(std::string* holder, std::string* error) override {
    ++takes;
    *holder = heldBy;
    *error = failure;
    return heldBy.empty() && failure.empty();
  }

  std::string heldBy;   // "process 7": another agent holds it
  std::string failure;  // the lock cannot be had
  int takes = 0;
};

}  // namespace pelko
