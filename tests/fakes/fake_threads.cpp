#include "tests/fakes/fake_threads.h"

namespace pelko {

ThreadHandle FakeThreads::Create(ThreadRoutine routine, void* parameter, uint32_t* threadId) {
  std::lock_guard<std::mutex> lock(mutex);
  if (failCreate) return nullptr;
  auto record = std::make_unique<Record>();
  record->routine = routine;
  record->parameter = parameter;
  records.push_back(std::move(record));
  ++creates;
  if (threadId != nullptr) *threadId = static_cast<uint32_t>(records.size());
  return records.back().get();
}

bool FakeThreads::GetExitCode(ThreadHandle thread, uint32_t* code) {
  std::lock_guard<std::mutex> lock(mutex);
  auto* record = static_cast<Record*>(thread);
  *code = record->running ? kStillActive : record->exitCode;
  return true;
}

bool FakeThreads::WaitForExit(ThreadHandle thread, uint32_t) {
  std::lock_guard<std::mutex> lock(mutex);
  return !static_cast<Record*>(thread)->running;
}

bool FakeThreads::Terminate(ThreadHandle thread, uint32_t code) {
  std::lock_guard<std::mutex> lock(mutex);
  auto* record = static_cast<Record*>(thread);
  record->running = false;
  record->terminated = true;
  record->exitCode = code;
  ++terminations;
  return true;
}

void FakeThreads::Close(ThreadHandle thread) {
  std::lock_guard<std::mutex> lock(mutex);
  static_cast<Record*>(thread)->closed = true;
}

int FakeThreads::Running(const void* worker) {
  std::lock_guard<std::mutex> lock(mutex);
  int n = 0;
  for (auto& r : records) n += r->parameter == worker && r->running;
  return n;
}

int FakeThreads::Started(const void* worker) {
  std::lock_guard<std::mutex> lock(mutex);
  int n = 0;
  for (auto& r : records) n += r->parameter == worker;
  return n;
}

void FakeThreads::Finish(const void* worker, uint32_t code) {
  std::lock_guard<std::mutex> lock(mutex);
  for (auto& r : records) {
    if (r->parameter == worker && r->running) {
      r->running = false;
      r->exitCode = code;
    }
  }
}

bool FakeThreads::RunToEnd(const void* worker) {
  Record* found = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& r : records) {
      if (r->parameter == worker && r->running) found = r.get();
    }
  }
  if (found == nullptr) return false;
  const uint32_t code = found->routine(found->parameter);
  std::lock_guard<std::mutex> lock(mutex);
  found->running = false;
  found->exitCode = code;
  return true;
}

}  // namespace pelko
