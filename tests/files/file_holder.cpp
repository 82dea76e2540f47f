// file_holder hold PATH: opens PATH exclusively as another agent process
//   would (share mode 0; on POSIX the file layer's own lock), creates
//   PATH.held, and keeps the file open until PATH.release appears (at most
//   20 s).
// file_holder begin PATH: starts replacing PATH through the file layer and
//   exits with the status as a number.
// file_holder read PATH: reads PATH through the file layer, the same.
// file_holder write PATH: replaces PATH by "x" through the file layer, the
//   same.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "agent/platform/files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "agent/platform/posix/files/file_locks.h"
#endif

namespace {

bool Hold(const std::string& path) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
#else
  pelko::FileLock lock;
  if (lock.Acquire(path) != pelko::FileStatus::kOk) return false;
#endif
  std::FILE* held = std::fopen((path + ".held").c_str(), "w");
  if (held == nullptr) return false;
  std::fclose(held);
  auto& files = pelko::PlatformFileSystem();
  for (int i = 0; i < 2000 && !files.Exists(path + ".release"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: file_holder hold|begin|read|write PATH\n");
    return 64;
  }
  const std::string mode = argv[1];
  const std::string path = argv[2];
  auto& files = pelko::PlatformFileSystem();
  if (mode == "hold") return Hold(path) ? 0 : 1;
  if (mode == "begin") {
    std::unique_ptr<pelko::ReplacingWriter> writer;
    return static_cast<int>(files.BeginReplace(path, &writer));
  }
  if (mode == "write") return static_cast<int>(files.ReplaceText(path, "x"));
  if (mode == "read") {
    std::string text;
    return static_cast<int>(files.ReadText(path, &text));
  }
  std::fprintf(stderr, "file_holder: unknown mode %s\n", mode.c_str());
  return 64;
}
