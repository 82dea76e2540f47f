// An in-memory spooler with EnumJobsA's buffer contract: records followed
// by their texts in the caller's buffer, kErrorInsufficientBuffer with the
// size needed when they do not fit. Queues are keyed by printer name.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/platform/spooler.h"

namespace pelko {

struct FakeJob {
  FakeJob(uint32_t id, std::optional<std::string> user = std::nullopt,
          std::optional<std::string> document = std::nullopt)
      : id(id), user(std::move(user)), document(std::move(document)) {}
  uint32_t id;
  std::optional<std::string> user;  // none: the record's text is nullptr
  std::optional<std::string> document;
};

class FakeSpooler : public Spooler {
 public:
  uint32_t OpenPrinterA(const std::string& name, PrinterHandle* printer) override;
  uint32_t EnumJobsA(PrinterHandle printer, uint32_t firstJob, uint32_t jobCount, uint32_t level,
                    uint8_t* buffer, uint32_t bufferSize, uint32_t* needed,
                    uint32_t* returned) override;
  uint32_t ClosePrinter(PrinterHandle printer) override;
  void AddChangeSignal(const std::string& name, Signal* changed) override;
  void RemoveChangeSignal(const std::string& name, Signal* changed) override;
  uint32_t QuietMs(const std::string& name) override;

  // A queue with these jobs; printers without one cannot be opened.
  void SetJobs(const std::string& printer, std::vector<FakeJob> jobs);
  void RemoveQueue(const std::string& printer);

  // Every call, in order: "open NAME", "enum SIZE" (the buffer size given),
  // "close".
  std::vector<std::string> Calls();
  void ClearCalls();
  int OpenPrinters();

  // The next EnumJobs calls fail with these codes, first to last.
  void FailEnums(std::vector<uint32_t> errors);
  // What QuietMs answers for a printer (0 when not set).
  void SetQuiet(const std::string& printer, uint32_t ms);
  // Sets every change signal added for the printer.
  void Change(const std::string& printer);
  int ChangeSignals(const std::string& printer);

  // Runs (unlocked) at every OpenPrinter, before it opens anything.
  std::function<void(const std::string& name)> onOpen;
  // Runs (unlocked) after a size query has measured the list.
  std::function<void()> afterSizeQuery;

 private:
  struct Handle {
    std::string name;
  };
  std::mutex mutex;
  std::map<std::string, std::vector<FakeJob>> queues;
  std::vector<std::string> calls;
  std::vector<uint32_t> enumFailures;
  int openPrinters = 0;
  std::map<std::string, uint32_t> quiet;
  std::multimap<std::string, Signal*> changeSignals;
};

}  // namespace pelko
