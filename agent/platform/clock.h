// Time service: the local calendar time, and waits that another thread can
// cut short. Every pause in the agent goes through here so tests can run
// hours of agent time against a fake clock.
//
// Safe for concurrent use from any thread; a Signal may be set, reset and
// waited on from any thread.
#pragma once

#include <cstdint>
#include <memory>

namespace pelko {

struct LocalTime {
  int year = 0;   // full year, e.g. 2026
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// A manual-reset event.
class Signal {
 public:
  virtual ~Signal() = default;
  virtual void Set() = 0;
  virtual void Reset() = 0;
  // Waits up to ms for the signal; true when it is set.
  virtual bool Wait(uint32_t ms) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
  // Milliseconds on a clock that never goes back; origin unspecified.
  virtual uint64_t MonotonicMs() = 0;
  virtual void Sleep(uint32_t ms) = 0;
  virtual std::unique_ptr<Signal> NewSignal() = 0;
};

Clock& PlatformClock();

}  // namespace pelko
