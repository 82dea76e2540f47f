// Stands in for the mail program in tests: records the ToSendFile value it
// finds as it starts and a copy of the file named there, in the folder
// "mailed" beside itself (tosend.txt, one line a start; copy-N.xml).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "agent/config/registry_value.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

int main(int, char** argv) {
#ifdef _WIN32
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const fs::path here = fs::path(self).parent_path();
#else
  const fs::path here = fs::absolute(argv[0]).parent_path();
#endif
  (void)argv;
  pelko::RegistryStringValue toSend(pelko::PlatformRegistry(), "Software\\Pelko\\ToSendFile");
  const std::string named = toSend.Get();
  const fs::path mailed = here / "mailed";
  fs::create_directories(mailed);
  int n = 0;
  while (fs::exists(mailed / ("copy-" + std::to_string(n) + ".xml"))) ++n;
  std::ifstream in(named, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  std::ofstream(mailed / ("copy-" + std::to_string(n) + ".xml"), std::ios::binary)
      << content.str();
  std::ofstream(mailed / "tosend.txt", std::ios::app) << named << "\n";
  return 0;
}
