// Stands in for the configuration front end: a hidden top-level window
// titled "Tavisk" with a message loop. Prints "ready" once the window
// exists; exits 0 when the window is closed, 3 if nothing closes it within
// a minute, 2 if the window cannot be made.
#include <windows.h>

#include <cstdio>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_TIMER:
      PostQuitMessage(3);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int main() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "PelkoTestFrontEnd";
  if (RegisterClassA(&windowClass) == 0) return 2;
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Tavisk", WS_OVERLAPPEDWINDOW, 0, 0,
                                200, 100, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 2;
  SetTimer(window, 1, 60000, nullptr);
  std::puts("ready");
  std::fflush(stdout);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
