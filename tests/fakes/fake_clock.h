// A clock whose time moves only when told. In auto mode every wait passes at
// once and moves the time on by its length (for code run on the test's own
// thread); in manual mode waits block until Advance() moves the time past
// them (for workers on real threads).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "agent/platform/clock.h"
#include "agent/util/civil_time.h"

namespace pelko {

class FakeClock : public Clock {
 public:
  explicit FakeClock(bool autoAdvance = true);

  LocalTime Now() override;
  uint64_t MonotonicMs() override;
  void Sleep(uint32_t ms) override;
  std::unique_ptr<Signal> NewSignal() override;

  // The local time Now() gives at this moment.
  void SetNow(const LocalTime& now);
  void Advance(uint64_t ms);
  // Waits (in real time, at most realMs) until at least n waits are blocked.
  bool WaitForSleepers(int n, int realMs = 5000);
  // Waits (in real time, at most realMs) until n waits have been asked for
  // and one of them is blocked: a worker has gone round its loop and paused.
  bool WaitForWaits(std::size_t n, int realMs = 5000);
  // Every wait asked for, in order.
  std::vector<uint32_t> Waits();

 private:
  class FakeSignal;
  bool WaitFor(FakeSignal* signal, uint32_t ms);

  std::mutex mutex;
  std::condition_variable changed;
  bool autoAdvance;
  int64_t baseMs;  // local time at elapsed 0, in ms since 1970-01-01 00:00
  uint64_t elapsed = 0;
  int sleepers = 0;
  std::vector<uint32_t> waits;
};

}  // namespace pelko
