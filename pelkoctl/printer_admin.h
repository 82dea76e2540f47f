// The printers the agent accounts: slots 1 to nPrinters, each a name
// (REG_SZ) and a cost per page (REG_DWORD). Every change writes the types the
// agent reads, keeps the slots dense and raises IsModified last, so that the
// agent takes up the new set as a whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/platform/env.h"
#include "pelkoctl/pelko_key.h"

namespace pelko::ctl {

enum class QueueState { kPresent, kMissing, kSpoolerDown };

struct PrinterRow {
  int slot = 0;
  std::string name;
  uint32_t cost = 0;
  QueueState queue = QueueState::kMissing;
  std::string lastEntry;  // the newest job in its logs, or empty
};

// What a command did: an empty problem is success; message is said either way.
struct Outcome {
  std::string problem;
  std::string message;
  bool ok() const { return problem.empty(); }
};

class PrinterAdmin {
 public:
  explicit PrinterAdmin(const Env& env) : env(env), key(*env.registry) {}

  // The configured printers; fails when the slots are not as the agent
  // needs them (nPrinters stored as text, a slot without a name).
  Outcome List(std::vector<PrinterRow>* rows);
  Outcome Add(const std::string& name, uint32_t cost, bool force);
  Outcome Remove(const std::string& name);
  Outcome SetCost(const std::string& name, uint32_t cost);

  QueueState Queue(const std::string& name);
  // "2026/12/08 10:31:02 alice 3 pages \"report.pdf\"" for the newest entry of
  // the printer's newest daily log; empty when there is none.
  std::string LastEntry(const std::string& name);

 private:
  struct Slot {
    std::string name;
    uint32_t cost = 0;
  };
  // Slots 1..nPrinters, as stored; a problem when the agent would misread them.
  std::string ReadSlots(std::vector<Slot>* slots);
  // Writes slots from `from` on, deletes those above, then nPrinters and
  // IsModified.
  std::string WriteSlots(const std::vector<Slot>& slots, std::size_t from, std::size_t oldCount);
  int Find(const std::vector<Slot>& slots, const std::string& name) const;

  Env env;
  PelkoKey key;
};

// Why name cannot be a printer the agent accounts (empty when it can).
std::string RejectPrinterName(const std::string& name);
const char* QueueStateText(QueueState state);

}  // namespace pelko::ctl
