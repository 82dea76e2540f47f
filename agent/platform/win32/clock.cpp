#include "agent/platform/clock.h"

#include <windows.h>

namespace pelko {

namespace {

class Win32Signal : public Signal {
 public:
  Win32Signal() : event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Win32Signal() override {
    if (event != nullptr) CloseHandle(event);
  }
  void Set() override { SetEvent(event); }
  void Reset() override { ResetEvent(event); }
  bool Wait(uint32_t ms) override {
    if (event == nullptr) {
      ::Sleep(ms);
      return false;
    }
    return WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
  }

 private:
  HANDLE event;
};

class Win32Clock : public Clock {
 public:
  LocalTime Now() override {
    SYSTEMTIME now;
    GetLocalTime(&now);
    LocalTime t;
    t.year = now.wYear;
    t.month = now.wMonth;
    t.day = now.wDay;
    t.hour = now.wHour;
    t.minute = now.wMinute;
    t.second = now.wSecond;
    t.millisecond = now.wMilliseconds;
    return t;
  }
  uint64_t MonotonicMs() override { return GetTickCount64(); }
  void Sleep(uint32_t ms) override { ::Sleep(ms); }
  std::unique_ptr<Signal> NewSignal() override { return std::make_unique<Win32Signal>(); }
};

}  // namespace

Clock& PlatformClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace pelko
