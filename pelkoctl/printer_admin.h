// The printers the agent accounts: slots 1 to nPrinters, each a name
// (REG_SZ), a cost per page (REG_DWORD) and the optional prices beyond it
// (ColorCost, DuplexDiscount, PaperFactors). Every change writes the types the
// agent reads and raises IsModified last, so that the agent takes up the new
// set as a whole. The store may have been written by hand: a value of the
// wrong type, a slot without a name, a printer left above nPrinters are
// shown as they are and mended by the commands, never written over unseen.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "agent/accounting/tariff.h"
#include "agent/platform/env.h"
#include "pelkoctl/pelko_key.h"

namespace pelko::ctl {

enum class QueueState { kPresent, kMissing, kSpoolerDown };

// A printer's optional prices as stored, each none where it is not set;
// they move with the printer when its slot does.
struct StoredPrices {
  std::optional<StoredValue> colorCost;
  std::optional<StoredValue> duplexDiscount;
  std::optional<StoredValue> paperFactors;
};

// What add and cost change besides the mono price; each none: unchanged.
struct PriceChange {
  std::optional<uint32_t> colorCost;
  bool dropColorCost = false;  // colour pages cost the mono price again
  std::optional<uint32_t> duplexDiscount;
  std::optional<std::string> paperFactors;  // empty: no factors
  bool Any() const { return colorCost || dropColorCost || duplexDiscount || paperFactors; }
};

struct PrinterRow {
  int slot = 0;
  std::string name;     // empty: a slot below nPrinters without a printer
  bool hidden = false;  // above nPrinters: the agent does not account it
  std::string problem;  // why the agent cannot use the row as stored
  std::string fix;      // the command that mends it
  uint32_t cost = 0;
  QueueState queue = QueueState::kMissing;
  std::string lastEntry;  // the newest job in its logs, or empty
  // "since 2026/12/09 13:20:11" (added, or first looked at), "not yet", or
  // "yes" for a printer watched since before its start was recorded.
  std::string watching;
  StoredPrices stored;
  Tariff tariff;  // as the agent reads it
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

  // The configured printers, each slot as stored, then the printers left
  // above nPrinters; fails only when the store cannot be read. *countProblem
  // (when given) says why nPrinters is not what the agent can use, with its
  // fix.
  Outcome List(std::vector<PrinterRow>* rows, std::string* countProblem = nullptr);
  Outcome Add(const std::string& name, uint32_t cost, bool force, const PriceChange& prices = {});
  Outcome Remove(const std::string& name);
  // cost none: the mono price stays.
  Outcome SetCost(const std::string& name, std::optional<uint32_t> cost,
                  const PriceChange& prices = {});

  QueueState Queue(const std::string& name);
  // The hint where a queue name is wrong ("lpstat -e lists them").
  void SetQueueListHint(std::string hint) { queueListHint = std::move(hint); }
  // "2026/12/08 10:31:02 alice 3 pages \"report.pdf\"" for the newest entry of
  // the printer's newest daily log; empty when there is none.
  std::string LastEntry(const std::string& name);
  std::string Watching(const std::string& name);

 private:
  struct Slot {
    std::string name;                 // empty: no printer there
    std::optional<StoredValue> cost;  // as stored, whatever its type
    StoredPrices prices;
  };
  struct Slots {
    std::vector<Slot> counted;  // slots 1..nPrinters
    std::map<int, Slot> above;  // named slots above nPrinters, by slot
    std::string countProblem;   // nPrinters not usable as stored, with its fix
  };
  // The slots as stored; a problem only when the store cannot be read.
  std::string ReadSlots(Slots* slots);
  // Writes slots from `from` on, deletes those above, then nPrinters and
  // IsModified.
  std::string WriteSlots(const std::vector<Slot>& slots, std::size_t from, std::size_t oldCount);
  std::string WriteSlot(std::size_t slot, const Slot& values);
  // Each of slot's optional prices written, or deleted where it has none.
  std::string WritePrices(std::size_t slot, const StoredPrices& prices);
  int Find(const std::vector<Slot>& slots, const std::string& name) const;
  // Records the jobs the spooler has ended by now as before name's watch
  // (seen_jobs.h); why it could not, else empty.
  std::string RecordStart(const std::string& name);
  void ForgetStart(const std::string& name);

  Env env;
  PelkoKey key;
  std::string queueListHint = "lpstat -e lists them";
};

// Why name cannot be a printer the agent accounts (empty when it can).
std::string RejectPrinterName(const std::string& name);

// Whether fileName is one of the daily logs "<stem>_YYYYMMDD.xml" (any case).
bool IsDailyLogOf(const std::string& fileName, const std::string& stem);
// Why the prices cannot be stored (empty when they can): a paper factors
// text ParsePaperFactors refuses, a discount over 100.
std::string RejectPrices(const PriceChange& prices);
// ", colour 40 a page, 10% off two-sided pages, paper a3=2": what a change set.
std::string DescribePrices(const PriceChange& prices);
const char* QueueStateText(QueueState state);

}  // namespace pelko::ctl
