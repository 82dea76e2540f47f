// One agent at a time: two would each account the same jobs, so the first
// takes this lock and holds it for the rest of its life.
#pragma once

#include <string>

namespace pelko {

class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
  // true when this process holds the lock from now on. false when another
  // agent holds it (*holder names it, "process 1234", when that can be
  // told) or when it cannot be taken (*error says why, holder stays empty).
  virtual bool Take(std::string* holder, std::string* error) = 0;
};

InstanceLock& PlatformInstanceLock();

}  // namespace pelko
