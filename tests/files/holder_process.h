// Starts the holder program beside the running test and waits for it.
#pragma once

#include <string>
#include <vector>

namespace pelko {

class HolderProcess {
 public:
  // Runs file_holder with the arguments; false if it could not start.
  bool Start(const std::vector<std::string>& arguments);
  // Its exit status, or -1 if it did not end within ms.
  int Wait(int ms);
  ~HolderProcess();

 private:
#ifdef _WIN32
  void* process = nullptr;
#else
  int pid = -1;
#endif
};

}  // namespace pelko
