#include "tests/fakes/fake_spooler.h"

#include <cstring>

namespace pelko {

uint32_t FakeSpooler::OpenPrinterA(const std::string& name, PrinterHandle* printer) {
  if (onOpen) onOpen(name);
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("open " + name);
  *printer = nullptr;
  if (queues.count(name) == 0) return kErrorInvalidPrinterName;
  *printer = new Handle{name};
  ++openPrinters;
  return 0;
}

uint32_t FakeSpooler::EnumJobsA(PrinterHandle printer, uint32_t firstJob, uint32_t jobCount,
                               uint32_t level, uint8_t* buffer, uint32_t bufferSize,
                               uint32_t* needed, uint32_t* returned) {
  bool sizeQuery = false;
  uint32_t status = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back("enum " + std::to_string(bufferSize));
    *needed = 0;
    *returned = 0;
    if (printer == nullptr) return 6;
    if (level != 1) return kErrorInvalidLevel;
    if (!enumFailures.empty()) {
      const uint32_t error = enumFailures.front();
      enumFailures.erase(enumFailures.begin());
      return error;
    }
    const auto& jobs = queues[static_cast<Handle*>(printer)->name];
    const std::size_t first = std::min<std::size_t>(firstJob, jobs.size());
    const std::size_t count = std::min<std::size_t>(jobCount, jobs.size() - first);
    std::size_t bytes = count * sizeof(JobInfo1);
    for (std::size_t i = first; i < first + count; ++i) {
      if (jobs[i].user) bytes += jobs[i].user->size() + 1;
      if (jobs[i].document) bytes += jobs[i].document->size() + 1;
    }
    *needed = static_cast<uint32_t>(bytes);
    if (bytes > bufferSize || (bytes > 0 && buffer == nullptr)) {
      sizeQuery = true;
      status = kErrorInsufficientBuffer;
    } else {
      char* strings = reinterpret_cast<char*>(buffer + count * sizeof(JobInfo1));
      auto put = [&strings](const std::optional<std::string>& text) -> char* {
        if (!text) return nullptr;
        char* start = strings;
        std::memcpy(start, text->c_str(), text->size() + 1);
        strings += text->size() + 1;
        return start;
      };
      for (std::size_t i = 0; i < count; ++i) {
        JobInfo1 record{};
        record.JobId = jobs[first + i].id;
        record.pUserName = put(jobs[first + i].user);
        record.pDocument = put(jobs[first + i].document);
        record.Position = static_cast<uint32_t>(first + i + 1);
        // Fields a pass must not use carry noise.
        record.TotalPages = 999;
        record.PagesPrinted = 999;
        std::memcpy(buffer + i * sizeof(JobInfo1), &record, sizeof record);
      }
      *returned = static_cast<uint32_t>(count);
    }
  }
  if (sizeQuery && afterSizeQuery) afterSizeQuery();
  return status;
}

uint32_t FakeSpooler::ClosePrinter(PrinterHandle printer) {
  std::lock_guard<std::mutex> lock(mutex);
  calls.push_back("close");
  if (printer == nullptr) return 6;
  delete static_cast<Handle*>(printer);
  --openPrinters;
  return 0;
}

void FakeSpooler::SetJobs(const std::string& printer, std::vector<FakeJob> jobs) {
  std::lock_guard<std::mutex> lock(mutex);
  queues[printer] = std::move(jobs);
}

void FakeSpooler::RemoveQueue(const std::string& printer) {
  std::lock_guard<std::mutex> lock(mutex);
  queues.erase(printer);
}

std::vector<std::string> FakeSpooler::Calls() {
  std::lock_guard<std::mutex> lock(mutex);
  return calls;
}

void FakeSpooler::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex);
  calls.clear();
}

int FakeSpooler::OpenPrinters() {
  std::lock_guard<std::mutex> lock(mutex);
  return openPrinters;
}

void FakeSpooler::FailEnums(std::vector<uint32_t> errors) {
  std::lock_guard<std::mutex> lock(mutex);
  enumFailures = std::move(errors);
}

void FakeSpooler::AddChangeSignal(const std::string& name, Signal* changed) {
  std::lock_guard<std::mutex> lock(mutex);
  changeSignals.emplace(name, changed);
}

void FakeSpooler::RemoveChangeSignal(const std::string& name, Signal* changed) {
  std::lock_guard<std::mutex> lock(mutex);
  auto [first, last] = changeSignals.equal_range(name);
  for (auto at = first; at != last; ++at) {
    if (at->second == changed) {
      changeSignals.erase(at);
      return;
    }
  }
}

uint32_t FakeSpooler::QuietMs(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  auto found = quiet.find(name);
  return found != quiet.end() ? found->second : 0;
}

void FakeSpooler::SetQuiet(const std::string& printer, uint32_t ms) {
  std::lock_guard<std::mutex> lock(mutex);
  quiet[printer] = ms;
}

void FakeSpooler::Change(const std::string& printer) {
  std::lock_guard<std::mutex> lock(mutex);
  auto [first, last] = changeSignals.equal_range(printer);
  for (auto at = first; at != last; ++at) at->second->Set();
}

int FakeSpooler::ChangeSignals(const std::string& printer) {
  std::lock_guard<std::mutex> lock(mutex);
  return static_cast<int>(changeSignals.count(printer));
}

}  // namespace pelko
