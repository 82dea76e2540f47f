// One lock per log file path, shared by every thread of the agent, so that
// read-modify-write passes on one file never interleave.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace pelko {

class LogLocks {
 public:
  // Held for as long as the returned lock lives.
  std::unique_lock<std::mutex> Lock(const std::string& path);

 private:
  std::mutex tableMutex;
  std::map<std::string, std::unique_ptr<std::mutex>> locks;
};

}  // namespace pelko
