#include "tests/fakes/fake_clock.h"

#include <chrono>

namespace pelko {

class FakeClock::FakeSignal : public Signal {
 public:
  explicit FakeSignal(FakeClock* clock) : clock(clock) {}
  void Set() override {
    std::lock_guard<std::mutex> lock(clock->mutex);
    set = true;
    clock->changed.notify_all();
  }
  void Reset() override {
    std::lock_guard<std::mutex> lock(clock->mutex);
    set = false;
  }
  bool Wait(uint32_t ms) override { return clock->WaitFor(this, ms); }

  FakeClock* clock;
  bool set = false;
};

FakeClock::FakeClock(bool autoAdvance) : autoAdvance(autoAdvance) {
  SetNow(LocalTime{2026, 12, 6, 9, 0, 0, 0});
}

void FakeClock::SetNow(const LocalTime& now) {
  std::lock_guard<std::mutex> lock(mutex);
  const int64_t ms = DaysFromCivil(now.year, now.month, now.day) * 86400000 +
                     ((now.hour * 60 + now.minute) * 60 + now.second) * 1000LL + now.millisecond;
  baseMs = ms - static_cast<int64_t>(elapsed);
}

LocalTime FakeClock::Now() {
  std::lock_guard<std::mutex> lock(mutex);
  const int64_t ms = baseMs + static_cast<int64_t>(elapsed);
  int64_t days = ms / 86400000;
  int64_t inDay = ms % 86400000;
  if (inDay < 0) {
    inDay += 86400000;
    --days;
  }
  LocalTime t;
  CivilFromDays(days, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(inDay / 3600000);
  t.minute = static_cast<int>(inDay / 60000 % 60);
  t.second = static_cast<int>(inDay / 1000 % 60);
  t.millisecond = static_cast<int>(inDay % 1000);
  return t;
}

uint64_t FakeClock::MonotonicMs() {
  std::lock_guard<std::mutex> lock(mutex);
  return elapsed;
}

void FakeClock::Sleep(uint32_t ms) { WaitFor(nullptr, ms); }

std::unique_ptr<Signal> FakeClock::NewSignal() { return std::make_unique<FakeSignal>(this); }

bool FakeClock::WaitFor(FakeSignal* signal, uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex);
  waits.push_back(ms);
  if (signal != nullptr && signal->set) return true;
  if (autoAdvance) {
    elapsed += ms;
    changed.notify_all();
    return false;
  }
  const uint64_t deadline = elapsed + ms;
  ++sleepers;
  changed.notify_all();
  changed.wait(lock, [&] { return elapsed >= deadline || (signal != nullptr && signal->set); });
  --sleepers;
  return signal != nullptr && signal->set;
}

void FakeClock::Advance(uint64_t ms) {
  std::lock_guard<std::mutex> lock(mutex);
  elapsed += ms;
  changed.notify_all();
}

bool FakeClock::WaitForSleepers(int n, int realMs) {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(realMs), [&] { return sleepers >= n; });
}

bool FakeClock::WaitForWaits(std::size_t n, int realMs) {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(realMs),
                          [&] { return waits.size() >= n && sleepers > 0; });
}

std::vector<uint32_t> FakeClock::Waits() {
  std::lock_guard<std::mutex> lock(mutex);
  return waits;
}

}  // namespace pelko
