#include "agent/monitor/ink_queue.h"

#include <algorithm>

namespace pelko {

namespace {
// Jobs remembered as asked for, so that none is measured twice.
constexpr std::size_t kRememberedAsked = 4096;
}  // namespace

InkQueue::~InkQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  wake.notify_all();
  // A measure under way is cancelled: no Ghostscript outlives its asker.
  if (worker.joinable()) worker.join();
}

bool InkQueue::Ask(const std::string& queue, uint32_t id, int64_t submittedAt) {
  std::lock_guard<std::mutex> lock(mutex);
  const std::pair<uint32_t, int64_t> key{id, submittedAt};
  if (asked.count(key) != 0) return true;
  if (waiting.size() >= kMaxWaiting) return false;
  asked.insert(key);
  askedOrder.push_back(key);
  if (askedOrder.size() > kRememberedAsked) {
    asked.erase(askedOrder.front());
    askedOrder.pop_front();
  }
  waiting.push_back({queue, id, submittedAt});
  if (!worker.joinable()) worker = std::thread([this] { Serve(); });
  wake.notify_one();
  return true;
}

bool InkQueue::HasAnswers() {
  std::lock_guard<std::mutex> lock(mutex);
  return !ready.empty();
}

std::vector<InkQueue::Answer> InkQueue::Take() {
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<Answer> answers;
  answers.swap(ready);
  return answers;
}

std::deque<InkQueue::Answer>::iterator InkQueue::NextReady(
    std::chrono::steady_clock::time_point now, std::chrono::steady_clock::time_point* soonest) {
  *soonest = std::chrono::steady_clock::time_point::max();
  for (auto at = waiting.begin(); at != waiting.end(); ++at) {
    if (at->notBefore <= now) return at;
    *soonest = std::min(*soonest, at->notBefore);
  }
  return waiting.end();
}

void InkQueue::Serve() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point soonest;
    auto next = NextReady(now, &soonest);
    if (stopping) return;
    if (next == waiting.end()) {
      if (waiting.empty()) {
        wake.wait(lock);
      } else {
        wake.wait_until(lock, soonest);
      }
      continue;
    }
    Answer answer = std::move(*next);
    waiting.erase(next);
    lock.unlock();
    answer.status = meter.Measure(answer.queue, answer.id, &answer.pages, stopping);
    lock.lock();
    if (answer.status == InkStatus::kUnavailable && ++answer.tries < kMaxTries) {
      const int gap = std::min(kMaxRetryGapMs, kRetryGapMs << std::min(answer.tries - 1, 8));
      answer.notBefore = std::chrono::steady_clock::now() + std::chrono::milliseconds(gap);
      waiting.push_back(std::move(answer));
      continue;
    }
    ready.push_back(std::move(answer));
    if (answered != nullptr) answered->Set();
  }
}

}  // namespace pelko
