#include "agent/platform/clock.h"

#include <sys/time.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>

namespace pelko {

namespace {

class PosixSignal : public Signal {
 public:
  void Set() override {
    std::lock_guard<std::mutex> lock(mutex);
    set = true;
    changed.notify_all();
  }
  void Reset() override {
    std::lock_guard<std::mutex> lock(mutex);
    set = false;
  }
  bool Wait(uint32_t ms) override {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set; });
  }

 private:
  std::mutex mutex;
  std::condition_variable changed;
  bool set = false;
};

class PosixClock : public Clock {
 public:
  LocalTime Now() override {
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm local{};
    const time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    LocalTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.millisecond = static_cast<int>(now.tv_usec / 1000);
    return t;
  }
  uint64_t MonotonicMs() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  void Sleep(uint32_t ms) override {
    timespec delay{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&delay, &delay) != 0) {
    }
  }
  std::unique_ptr<Signal> NewSignal() override { return std::make_unique<PosixSignal>(); }
};

}  // namespace

Clock& PlatformClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace pelko
