#include "pelkoctl/printer_admin.h"

#include <algorithm>

#include "agent/config/setting_table.h"
#include "agent/config/settings.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"
#include "agent/util/coding.h"

namespace pelko::ctl {

namespace {

std::string SlotName(std::size_t slot) { return "Printer" + std::to_string(slot); }
std::string SlotCost(std::size_t slot) { return "Printer" + std::to_string(slot) + "Cost"; }

// The optional prices of a slot, each with its place in StoredPrices.
struct PriceValue {
  const char* suffix;
  std::optional<StoredValue> StoredPrices::*member;
};
constexpr PriceValue kPriceValues[] = {{"ColorCost", &StoredPrices::colorCost},
                                       {"DuplexDiscount", &StoredPrices::duplexDiscount},
                                       {"PaperFactors", &StoredPrices::paperFactors}};

std::string SlotValue(std::size_t slot, const char* suffix) {
  return "Printer" + std::to_string(slot) + suffix;
}

StoredValue Number(uint32_t number) { return {kRegDword, EncodeLittleEndian(number, 4)}; }

void Apply(const PriceChange& change, StoredPrices* prices) {
  if (change.dropColorCost) prices->colorCost.reset();
  if (change.colorCost) prices->colorCost = Number(*change.colorCost);
  if (change.duplexDiscount) prices->duplexDiscount = Number(*change.duplexDiscount);
  if (change.paperFactors) {
    prices->paperFactors.reset();
    // Stored as the agent reads it back, so list shows what bills.
    std::vector<std::pair<std::string, uint32_t>> factors;
    ParsePaperFactors(*change.paperFactors, &factors, nullptr);
    if (!factors.empty()) {
      prices->paperFactors = StoredValue{kRegSz, FormatPaperFactors(factors) + '\0'};
    }
  }
}

bool IsDailyLogOf(const std::string& fileName, const std::string& stem) {
  // stem + "_" + eight digits + ".xml", and not another printer's stem that
  // merely begins the same.
  if (fileName.size() != stem.size() + 13) return false;
  if (!AsciiEqualFold(std::string_view(fileName).substr(0, stem.size() + 1), stem + "_")) {
    return false;
  }
  for (std::size_t i = stem.size() + 1; i < stem.size() + 9; ++i) {
    if (fileName[i] < '0' || fileName[i] > '9') return false;
  }
  return AsciiEqualFold(std::string_view(fileName).substr(stem.size() + 9), ".xml");
}

}  // namespace

const char* QueueStateText(QueueState state) {
  switch (state) {
    case QueueState::kPresent: return "yes";
    case QueueState::kMissing: return "NO";
    case QueueState::kSpoolerDown: return "spooler down";
  }
  return "?";
}

std::string RejectPrices(const PriceChange& prices) {
  if (prices.colorCost && *prices.colorCost > kMaxPageCost) {
    return "a colour price is at most " + std::to_string(kMaxPageCost);
  }
  if (prices.duplexDiscount && *prices.duplexDiscount > 100) {
    return "a discount is a percent, 0 to 100";
  }
  std::vector<std::pair<std::string, uint32_t>> factors;
  std::string why;
  if (prices.paperFactors && !ParsePaperFactors(*prices.paperFactors, &factors, &why)) {
    return "paper factors '" + *prices.paperFactors + "': " + why;
  }
  return "";
}

std::string DescribePrices(const PriceChange& prices) {
  std::string said;
  if (prices.dropColorCost) said += ", colour pages at the mono price";
  if (prices.colorCost) said += ", colour " + std::to_string(*prices.colorCost) + " a page";
  if (prices.duplexDiscount) {
    said += ", " + std::to_string(*prices.duplexDiscount) + "% off two-sided pages";
  }
  if (prices.paperFactors) {
    std::vector<std::pair<std::string, uint32_t>> factors;
    ParsePaperFactors(*prices.paperFactors, &factors, nullptr);
    said += factors.empty() ? ", every paper 1" : ", paper " + FormatPaperFactors(factors);
  }
  return said;
}

std::string RejectPrinterName(const std::string& name) {
  if (name.empty()) return "a printer needs a name";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) return "a printer name cannot hold control bytes";
  }
  if (ShortPrinterName(name).empty()) {
    return "'" + name + "' ends in a backslash: the queue's own name must follow it";
  }
  if (name.size() > 255) return "a printer name is at most 255 bytes";
  return "";
}

QueueState PrinterAdmin::Queue(const std::string& name) {
  std::unique_ptr<JobCursor> cursor;
  std::vector<SpoolJob> jobs;
  switch (env.spooler->ListJobs(name, &cursor, &jobs)) {
    case SpoolStatus::kOk: return QueueState::kPresent;
    case SpoolStatus::kNoQueue: return QueueState::kMissing;
    default: return QueueState::kSpoolerDown;
  }
}

std::string PrinterAdmin::LastEntry(const std::string& name) {
  auto path = key.Get("Path");
  if (!path || !path->Text() || path->Text()->empty()) return "";
  const char separator = env.files->Separator();
  const std::string folder = LogsFolder(*path->Text(), separator);
  const std::string stem = DailyLogBase(name, *env.files);
  auto search = env.files->Find(folder + separator + stem + "_*.xml");
  if (!search) return "";
  std::string newest;
  for (FileEntry entry; search->Next(&entry);) {
    if (!IsDailyLogOf(entry.name, stem)) continue;
    // Eight digits of the date: the greatest name is the newest day.
    const std::string day = entry.name.substr(stem.size() + 1, 8);
    if (newest.empty() || day > newest.substr(stem.size() + 1, 8)) newest = entry.name;
  }
  if (newest.empty()) return "";
  std::string text;
  if (LogStore(env).ReadAll(folder + separator + newest, &text) != FileStatus::kOk) {
    return newest + " (cannot be read)";
  }
  std::vector<LogEntry> entries;
  ReadLogEntries(text, &entries);
  // New jobs are put in front.
  if (entries.empty()) return newest + " (no job)";
  const LogEntry& job = entries.front();
  return std::string(job.date) + " " + std::string(job.time) + " " + std::string(job.user) + " " +
         std::to_string(EntryPages(job)) + " pages";
}

std::string PrinterAdmin::ReadSlots(std::vector<Slot>* slots) {
  std::string failure;
  auto count = key.Get("nPrinters", &failure);
  if (!failure.empty()) return "cannot read the settings: " + failure;
  if (count && !count->Number()) {
    return "nPrinters is stored as " + count->Describe() +
           ", which the agent reads as 0: no printer is accounted. Store it as a number with: "
           "pelkoctl set nPrinters N";
  }
  const uint32_t n = count ? *count->Number() : 0;
  if (n > static_cast<uint32_t>(kMaxPrinters)) {
    return "nPrinters is " + std::to_string(n) + "; the agent serves at most " +
           std::to_string(kMaxPrinters);
  }
  slots->clear();
  for (uint32_t i = 1; i <= n; ++i) {
    Slot slot;
    auto name = key.Get(SlotName(i));
    if (!name || !name->Text() || name->Text()->empty()) {
      return SlotName(i) + " is " + (name ? name->Describe() : std::string("missing")) +
             ", but nPrinters is " + std::to_string(n) + ": slot " + std::to_string(i) +
             " has no printer";
    }
    slot.name = *name->Text();
    auto cost = key.Get(SlotCost(i));
    if (cost && !cost->Number()) {
      return SlotCost(i) + " is stored as " + cost->Describe() +
             ", which the agent reads as 0: store it with: pelkoctl cost \"" + slot.name + "\" N";
    }
    slot.cost = cost ? *cost->Number() : 0;
    for (const PriceValue& price : kPriceValues) {
      slot.prices.*price.member = key.Get(SlotValue(i, price.suffix));
    }
    slots->push_back(slot);
  }
  return "";
}

int PrinterAdmin::Find(const std::vector<Slot>& slots, const std::string& name) const {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (slots[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

std::string PrinterAdmin::WriteSlots(const std::vector<Slot>& slots, std::size_t from,
                                     std::size_t oldCount) {
  for (std::size_t i = from; i < slots.size(); ++i) {
    std::string failure = key.PutText(SlotName(i + 1), slots[i].name);
    if (failure.empty()) failure = key.PutNumber(SlotCost(i + 1), slots[i].cost);
    if (failure.empty()) failure = WritePrices(i + 1, slots[i].prices);
    if (!failure.empty()) return failure;
  }
  std::string failure = key.PutNumber("nPrinters", static_cast<uint32_t>(slots.size()));
  for (std::size_t i = slots.size(); failure.empty() && i < oldCount; ++i) {
    failure = key.Delete(SlotName(i + 1));
    if (failure.empty()) failure = key.Delete(SlotCost(i + 1));
    if (failure.empty()) failure = WritePrices(i + 1, {});
  }
  // Last: the agent restarts its printers with the whole new set.
  if (failure.empty()) failure = key.PutNumber("IsModified", 1);
  return failure;
}

std::string PrinterAdmin::WritePrices(std::size_t slot, const StoredPrices& prices) {
  for (const PriceValue& price : kPriceValues) {
    const std::optional<StoredValue>& value = prices.*price.member;
    const std::string name = SlotValue(slot, price.suffix);
    std::string failure = value ? key.PutStored(name, *value) : key.Delete(name);
    if (!failure.empty()) return failure;
  }
  return "";
}

Outcome PrinterAdmin::List(std::vector<PrinterRow>* rows) {
  std::vector<Slot> slots;
  if (std::string problem = ReadSlots(&slots); !problem.empty()) return {problem, ""};
  rows->clear();
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const int slot = static_cast<int>(i + 1);
    rows->push_back({slot, slots[i].name, slots[i].cost, Queue(slots[i].name),
                     LastEntry(slots[i].name), slots[i].prices, ReadTariff(*env.registry, slot)});
  }
  return {};
}

Outcome PrinterAdmin::Add(const std::string& name, uint32_t cost, bool force,
                          const PriceChange& prices) {
  if (std::string problem = RejectPrinterName(name); !problem.empty()) return {problem, ""};
  if (cost > kMaxPageCost) return {"a cost per page is at most " + std::to_string(kMaxPageCost), ""};
  if (std::string problem = RejectPrices(prices); !problem.empty()) return {problem, ""};
  std::vector<Slot> slots;
  if (std::string problem = ReadSlots(&slots); !problem.empty()) return {problem, ""};
  if (Find(slots, name) >= 0) {
    return {"'" + name + "' is configured already; change its cost with: pelkoctl cost", ""};
  }
  // The logs are named by the queue's own name: two printers of one short
  // name would write one file.
  const std::string stem = AsciiLowered(ShortPrinterName(name));
  for (const Slot& slot : slots) {
    if (AsciiLowered(ShortPrinterName(slot.name)) == stem) {
      return {"'" + name + "' would share its log files with '" + slot.name +
                  "' (both are named " + ShortPrinterName(name) + ")",
              ""};
    }
  }
  if (slots.size() >= static_cast<std::size_t>(kMaxPrinters)) {
    return {"the agent serves at most " + std::to_string(kMaxPrinters) + " printers", ""};
  }
  const QueueState queue = Queue(name);
  if (queue != QueueState::kPresent && !force) {
    return {queue == QueueState::kMissing
                ? "the spooler has no queue '" + name + "' (lpstat -e lists them); add it anyway with --force"
                : "the spooler does not answer, so '" + name + "' cannot be checked; add it anyway with --force",
            ""};
  }
  const std::size_t oldCount = slots.size();
  slots.push_back({name, cost, {}});
  Apply(prices, &slots.back().prices);
  if (std::string failure = WriteSlots(slots, oldCount, oldCount); !failure.empty()) {
    return {failure, ""};
  }
  return {"", "added '" + name + "' as printer " + std::to_string(slots.size()) + ", " +
                  std::to_string(cost) + " a page" + DescribePrices(prices) +
                  (queue == QueueState::kPresent ? "" : " (no such queue yet: forced)")};
}

Outcome PrinterAdmin::Remove(const std::string& name) {
  std::vector<Slot> slots;
  if (std::string problem = ReadSlots(&slots); !problem.empty()) return {problem, ""};
  const int at = Find(slots, name);
  if (at < 0) return {"no printer '" + name + "' is configured (pelkoctl list shows them)", ""};
  const std::size_t oldCount = slots.size();
  slots.erase(slots.begin() + at);
  if (std::string failure = WriteSlots(slots, static_cast<std::size_t>(at), oldCount);
      !failure.empty()) {
    return {failure, ""};
  }
  return {"", "removed '" + name + "'; its logs stay where they are"};
}

Outcome PrinterAdmin::SetCost(const std::string& name, std::optional<uint32_t> cost,
                              const PriceChange& prices) {
  if (cost && *cost > kMaxPageCost) {
    return {"a cost per page is at most " + std::to_string(kMaxPageCost), ""};
  }
  if (std::string problem = RejectPrices(prices); !problem.empty()) return {problem, ""};
  std::vector<Slot> slots;
  if (std::string problem = ReadSlots(&slots); !problem.empty()) return {problem, ""};
  const int at = Find(slots, name);
  if (at < 0) return {"no printer '" + name + "' is configured (pelkoctl list shows them)", ""};
  // The printer thread reads its prices at every job: no restart is needed.
  Slot& slot = slots[static_cast<std::size_t>(at)];
  Apply(prices, &slot.prices);
  std::string failure = cost ? key.PutNumber(SlotCost(at + 1), *cost) : "";
  if (failure.empty()) failure = WritePrices(static_cast<std::size_t>(at + 1), slot.prices);
  if (!failure.empty()) return {failure, ""};
  std::string said = DescribePrices(prices);
  if (cost) said = std::to_string(*cost) + " a page" + said;
  if (!cost) said.erase(0, 2);
  return {"", "'" + name + "' now costs " + said};
}

}  // namespace pelko::ctl
