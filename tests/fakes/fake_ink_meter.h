// An ink meter whose answers the test sets: pages for a job, or a status
// for every job; it records what it was asked.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>

#include "agent/platform/ink_meter.h"

namespace pelko {

class FakeInkMeter : public InkMeter {
 public:
  void SetPages(const std::string& queue, uint32_t jobId, std::vector<PageInk> pages) {
    std::lock_guard<std::mutex> lock(mutex);
    measured[{queue, jobId}] = std::move(pages);
  }
  // Every Measure answers status from now on; kOk returns to the pages set.
  void SetStatus(InkStatus answer) {
    std::lock_guard<std::mutex> lock(mutex);
    status = answer;
  }
  // Measures wait, at most ten seconds, until Release.
  void Hold() {
    std::lock_guard<std::mutex> lock(mutex);
    held = true;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      held = false;
    }
    released.notify_all();
  }
  int Calls() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }

  // A job given no pages is gone.
  using InkMeter::Measure;
  InkStatus Measure(const std::string& queue, uint32_t jobId, std::vector<PageInk>* pages,
                    const std::atomic<bool>& /*cancelled*/) override {
    std::unique_lock<std::mutex> lock(mutex);
    released.wait_for(lock, std::chrono::seconds(10), [this] { return !held; });
    ++calls;
    pages->clear();
    if (status != InkStatus::kOk) return status;
    const auto found = measured.find({queue, jobId});
    if (found == measured.end()) return InkStatus::kGone;
    *pages = found->second;
    return InkStatus::kOk;
  }

 private:
  std::mutex mutex;
  std::condition_variable released;
  bool held = false;
  std::map<std::pair<std::string, uint32_t>, std::vector<PageInk>> measured;
  InkStatus status = InkStatus::kOk;
  int calls = 0;
};

}  // namespace pelko
