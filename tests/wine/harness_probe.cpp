// What the Wine harness is checked with: `exit N ARGS...` prints the
// arguments and exits N, `crash` writes through a null pointer, `sleep`
// waits 100 s, `window` makes a window (which needs a graphics driver).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (std::strcmp(argv[1], "exit") == 0 && argc >= 3) {
    for (int i = 3; i < argc; ++i) std::printf("[%s]", argv[i]);
    std::printf("\n");
    return std::atoi(argv[2]);
  }
  if (std::strcmp(argv[1], "crash") == 0) {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  }
  if (std::strcmp(argv[1], "sleep") == 0) Sleep(100000);
  if (std::strcmp(argv[1], "window") == 0) {
    HWND window =
        CreateWindowExA(0, "STATIC", "probe", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    return window != nullptr ? 0 : 9;
  }
  return 2;
}
