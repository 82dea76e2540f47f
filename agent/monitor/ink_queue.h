// Measures jobs' documents for colour one at a time, on a thread of its
// own: Ghostscript may take seconds over a document, and no pass, and so no
// entry, waits for it. The printer thread asks as it first sees a job and
// takes the answers at its next look.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "agent/platform/clock.h"
#include "agent/platform/ink_meter.h"

namespace pelko {

class InkQueue {
 public:
  // Jobs waiting at most: a flood of jobs is priced by their asked mode
  // rather than measured hours late.
  static constexpr std::size_t kMaxWaiting = 64;
  // A spooler too busy to hand a document over is asked again, this many
  // times in all, twice as far apart each time from kRetryGapMs up to
  // kMaxRetryGapMs: a busy print server has minutes to answer.
  static constexpr int kMaxTries = 9;
  static constexpr int kRetryGapMs = 2000;
  static constexpr int kMaxRetryGapMs = 30000;

  struct Answer {
    std::string queue;
    uint32_t id = 0;
    int64_t submittedAt = 0;
    InkStatus status = InkStatus::kOk;
    std::vector<PageInk> pages{};
    int tries = 0;
    std::chrono::steady_clock::time_point notBefore{};
  };

  // `answered` is set as each answer is ready.
  InkQueue(InkMeter& meter, Signal* answered) : meter(meter), answered(answered) {}
  ~InkQueue();
  InkQueue(const InkQueue&) = delete;

  // Asks for the job's document to be measured; a job asked for before is
  // not asked again. False where the queue is full.
  bool Ask(const std::string& queue, uint32_t id, int64_t submittedAt);
  // Whether answers are ready, and those ready since the last Take.
  bool HasAnswers();
  std::vector<Answer> Take();

 private:
  void Serve();
  // The first waiting job that may be measured now; waiting.end() if none.
  std::deque<Answer>::iterator NextReady(std::chrono::steady_clock::time_point now,
                                         std::chrono::steady_clock::time_point* soonest);

  InkMeter& meter;
  Signal* answered;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Answer> waiting;
  std::vector<Answer> ready;
  std::set<std::pair<uint32_t, int64_t>> asked;
  std::deque<std::pair<uint32_t, int64_t>> askedOrder;
  std::atomic<bool> stopping{false};
  std::thread worker;
};

}  // namespace pelko
