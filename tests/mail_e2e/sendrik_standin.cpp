// Stands in for the mail program in tests: records the ToSendFile value it
// finds as it starts and a copy of the file named there, in the folder
// "mailed" beside itself (tosend.txt, one line a start; copy-N.xml). On
// POSIX it first records what it inherited: its environment (env.txt, one
// variable a line) and its open descriptors (fds.txt, "fd target" a line).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "agent/config/registry_value.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>

extern char** environ;
#endif

namespace fs = std::filesystem;

namespace {

#ifndef _WIN32
// Looked at before this program opens anything of its own.
std::string OpenDescriptors() {
  std::string list;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return "cannot list\n";
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == std::to_string(dirfd(dir))) continue;
    char target[4096];
    const ssize_t size = readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target - 1);
    list += name + " " + std::string(target, size > 0 ? static_cast<size_t>(size) : 0) + "\n";
  }
  closedir(dir);
  return list;
}

void RecordInheritance(const fs::path& mailed) {
  const std::string descriptors = OpenDescriptors();
  fs::create_directories(mailed);
  std::ofstream(mailed / "fds.txt") << descriptors;
  std::ofstream env(mailed / "env.txt");
  for (char** item = environ; *item != nullptr; ++item) env << *item << "\n";
}
#endif

}  // namespace

int main(int, char** argv) {
#ifdef _WIN32
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const fs::path here = fs::path(self).parent_path();
#else
  const fs::path here = fs::absolute(argv[0]).parent_path();
  RecordInheritance(here / "mailed");
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
  std::ofstream(mailed / ("copy-" + std::to_string(n) + ".xml"), std::ios::binary) << content.str();
  std::ofstream(mailed / "tosend.txt", std::ios::app) << named << "\n";
  return 0;
}
