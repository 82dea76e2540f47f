#include "pelkoctl/printer_admin.h"

#include <algorithm>

#include "agent/config/setting_table.h"
#include "agent/config/settings.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"
#include "agent/monitor/catch_up.h"
#include "agent/monitor/seen_jobs.h"
#include "agent/util/coding.h"
#include "pelkoctl/log_text.h"

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

}  // namespace

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

const char* QueueStateText(QueueState state) {
  switch (state) {
    case QueueState::kPresent:
      return "yes";
    case QueueState::kMissing:
      return "NO";
    case QueueState::kSpoolerDown:
      return "spooler down";
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
    case SpoolStatus::kOk:
      return QueueState::kPresent;
    case SpoolStatus::kNoQueue:
      return QueueState::kMissing;
    default:
      return QueueState::kSpoolerDown;
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
  text = LogTextForUser(std::move(text));
  std::vector<LogEntry> entries;
  ReadLogEntries(text, &entries);
  // New jobs are put in front.
  if (entries.empty()) return newest + " (no job)";
  const LogEntry& job = entries.front();
  return std::string(job.date) + " " + std::string(job.time) + " " + std::string(job.user) + " " +
         std::to_string(EntryPages(job)) + " pages";
}

std::string PrinterAdmin::Watching(const std::string& name) {
  if (std::optional<WatchStart> start = LoadWatchStart(env, name)) return "since " + start->at;
  const SeenJobs book = LoadSeenJobs(env, name);
  if (!book.Known()) return "not yet";
  return book.Since().empty() ? "yes" : "since " + book.Since();
}

std::string PrinterAdmin::RecordStart(const std::string& name) {
  const std::string path = WatchStartPath(env, name);
  if (path.empty()) return "Path is not set";
  std::vector<SpoolJob> ended;
  const SpoolStatus status = env.spooler->ListEndedJobs(name, kMaxCaughtUp, &ended);
  // A queue not made yet has ended nothing.
  if (status == SpoolStatus::kNoQueue) ended.clear();
  if (status != SpoolStatus::kOk && status != SpoolStatus::kNoQueue) {
    return "the spooler's history cannot be read";
  }
  WatchStart start{EntryStamp(env.clock->Now()), {}};
  for (const SpoolJob& job : ended) start.before.insert(IdentityOf(job));
  if (env.files->ReplaceText(path, EncodeWatchStart(start)) != FileStatus::kOk) {
    return "cannot write " + path;
  }
  return "";
}

void PrinterAdmin::ForgetStart(const std::string& name) {
  // A printer no longer configured is not watched; added again, it is
  // watched from then.
  const std::string path = WatchStartPath(env, name);
  if (!path.empty()) env.files->Delete(path);
}

std::string PrinterAdmin::ReadSlots(Slots* slots) {
  std::string failure;
  auto count = key.Get("nPrinters", &failure);
  if (!failure.empty()) return "cannot read the settings: " + failure;
  *slots = Slots{};
  std::vector<Slot> all;  // slots 1..kMaxPrinters as stored
  for (int i = 1; i <= kMaxPrinters; ++i) {
    Slot slot;
    auto name = key.Get(SlotName(i));
    if (name && name->Text()) slot.name = *name->Text();
    slot.cost = key.Get(SlotCost(i));
    for (const PriceValue& price : kPriceValues) {
      slot.prices.*price.member = key.Get(SlotValue(i, price.suffix));
    }
    all.push_back(slot);
  }
  // The count that takes in every printer there from slot 1 on without a gap.
  std::size_t dense = 0;
  while (dense < all.size() && !all[dense].name.empty()) ++dense;
  const std::string mend = " (pelkoctl set nPrinters " + std::to_string(dense) + ")";
  uint32_t n = 0;
  if (count && !count->Number()) {
    slots->countProblem = "nPrinters is stored as " + count->Describe() +
                          ", which the agent reads as 0: no printer is accounted" + mend;
  } else if (count) {
    n = *count->Number();
  }
  if (n > static_cast<uint32_t>(kMaxPrinters)) {
    slots->countProblem = "nPrinters is " + std::to_string(n) + "; the agent serves at most " +
                          std::to_string(kMaxPrinters) + mend;
    n = kMaxPrinters;
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (i < n) {
      slots->counted.push_back(all[i]);
    } else if (!all[i].name.empty()) {
      slots->above[static_cast<int>(i + 1)] = all[i];
    }
  }
  return "";
}

int PrinterAdmin::Find(const std::vector<Slot>& slots, const std::string& name) const {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (!name.empty() && slots[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

std::string PrinterAdmin::WriteSlot(std::size_t slot, const Slot& values) {
  if (values.name.empty()) {
    std::string failure = key.Delete(SlotName(slot));
    if (failure.empty()) failure = key.Delete(SlotCost(slot));
    return failure.empty() ? WritePrices(slot, {}) : failure;
  }
  std::string failure = key.PutText(SlotName(slot), values.name);
  if (failure.empty()) {
    failure =
        values.cost ? key.PutStored(SlotCost(slot), *values.cost) : key.Delete(SlotCost(slot));
  }
  return failure.empty() ? WritePrices(slot, values.prices) : failure;
}

std::string PrinterAdmin::WriteSlots(const std::vector<Slot>& slots, std::size_t from,
                                     std::size_t oldCount) {
  for (std::size_t i = from; i < slots.size(); ++i) {
    if (std::string failure = WriteSlot(i + 1, slots[i]); !failure.empty()) return failure;
  }
  std::string failure = key.PutNumber("nPrinters", static_cast<uint32_t>(slots.size()));
  for (std::size_t i = slots.size(); failure.empty() && i < oldCount; ++i) {
    failure = WriteSlot(i + 1, {});
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

Outcome PrinterAdmin::List(std::vector<PrinterRow>* rows, std::string* countProblem) {
  Slots slots;
  if (std::string problem = ReadSlots(&slots); !problem.empty()) return {problem, ""};
  if (countProblem != nullptr) *countProblem = slots.countProblem;
  rows->clear();
  const std::size_t n = slots.counted.size();
  auto rowOf = [&](int slot, const Slot& stored) {
    PrinterRow row;
    row.slot = slot;
    row.name = stored.name;
    row.stored = stored.prices;
    row.tariff = ReadTariff(*env.registry, slot);
    if (stored.cost && stored.cost->Number()) row.cost = *stored.cost->Number();
    if (stored.name.empty()) {
      // Only slots up to the last named one are worth a count below them.
      std::size_t last = 0;
      for (std::size_t i = 0; i < n; ++i) {
        if (!slots.counted[i].name.empty()) last = i + 1;
      }
      row.problem =
          "slot " + std::to_string(slot) + " has no printer, but nPrinters is " + std::to_string(n);
      row.fix = static_cast<std::size_t>(slot) > last
                    ? "pelkoctl set nPrinters " + std::to_string(last)
                    : "pelkoctl add NAME --cost N fills it";
      rows->push_back(row);
      return;
    }
    row.queue = Queue(stored.name);
    row.lastEntry = LastEntry(stored.name);
    row.watching = Watching(stored.name);
    row.hidden = static_cast<std::size_t>(slot) > n;
    const std::string quoted = "\"" + stored.name + "\"";
    if (row.hidden) {
      row.problem = "slot " + std::to_string(slot) + " holds '" + stored.name +
                    "' above nPrinters " + std::to_string(n) + ": it is not accounted";
      row.fix = "pelkoctl set nPrinters " + std::to_string(slot) +
                " takes it in (every slot below it named), or pelkoctl remove " + quoted;
    } else if (stored.cost && !stored.cost->Number()) {
      const std::optional<std::string> text = stored.cost->Text();
      const bool digits =
          text && !text->empty() && text->find_first_not_of("0123456789") == std::string::npos;
      row.problem = SlotCost(static_cast<std::size_t>(slot)) + " is stored as " +
                    stored.cost->Describe() +
                    ", which the agent reads as 0: its pages cost nothing";
      row.fix = "pelkoctl cost " + quoted + " " + (digits && text->size() < 10 ? *text : "N");
    }
    rows->push_back(row);
  };
  for (std::size_t i = 0; i < n; ++i) rowOf(static_cast<int>(i + 1), slots.counted[i]);
  for (const auto& [slot, stored] : slots.above) rowOf(slot, stored);
  return {};
}

Outcome PrinterAdmin::Add(const std::string& name, uint32_t cost, bool force,
                          const PriceChange& prices) {
  if (std::string problem = RejectPrinterName(name); !problem.empty()) return {problem, ""};
  if (cost > kMaxPageCost)
    return {"a cost per page is at most " + std::to_string(kMaxPageCost), ""};
  if (std::string problem = RejectPrices(prices); !problem.empty()) return {problem, ""};
  Slots stored;
  if (std::string problem = ReadSlots(&stored); !problem.empty()) return {problem, ""};
  if (!stored.countProblem.empty()) return {stored.countProblem + ", then add", ""};
  std::vector<Slot>& slots = stored.counted;
  std::vector<Slot> every = slots;
  for (const auto& [slot, hidden] : stored.above) every.push_back(hidden);
  if (Find(every, name) >= 0) {
    return {"'" + name + "' is configured already; change its cost with: pelkoctl cost", ""};
  }
  // The logs are named by the queue's own name: two printers of one short
  // name would write one file.
  const std::string stem = AsciiLowered(ShortPrinterName(name));
  for (const Slot& slot : every) {
    if (!slot.name.empty() && AsciiLowered(ShortPrinterName(slot.name)) == stem) {
      return {"'" + name + "' would share its log files with '" + slot.name + "' (both are named " +
                  ShortPrinterName(name) + ")",
              ""};
    }
  }
  // A slot below nPrinters without a printer is filled first; a printer
  // left above nPrinters is never written over, forced or not.
  std::size_t at = 0;
  while (at < slots.size() && !slots[at].name.empty()) ++at;
  const int next = static_cast<int>(at + 1);
  if (auto taken = stored.above.find(next); at == slots.size() && taken != stored.above.end()) {
    return {"slot " + std::to_string(next) + " holds '" + taken->second.name +
                "' above nPrinters " + std::to_string(slots.size()) +
                ", which the agent does not account: take it in with pelkoctl set nPrinters " +
                std::to_string(next) + ", or drop it with pelkoctl remove \"" + taken->second.name +
                "\"; then add",
            ""};
  }
  if (at >= static_cast<std::size_t>(kMaxPrinters)) {
    return {"the agent serves at most " + std::to_string(kMaxPrinters) + " printers", ""};
  }
  const QueueState queue = Queue(name);
  if (queue != QueueState::kPresent && !force) {
    return {queue == QueueState::kMissing ? "the spooler has no queue '" + name + "' (" +
                                                queueListHint + "); add it anyway with --force"
                                          : "the spooler does not answer, so '" + name +
                                                "' cannot be checked; add it anyway with --force",
            ""};
  }
  Slot added{name, StoredValue{kRegDword, EncodeLittleEndian(cost, 4)}, {}};
  Apply(prices, &added.prices);
  // Before the agent can take the printer up: a job that ends from now on
  // is billed, also one that ends before the agent first looks.
  const std::string unrecorded = RecordStart(name);
  std::string failure;
  if (at < slots.size()) {
    failure = WriteSlot(at + 1, added);
    if (failure.empty()) failure = key.PutNumber("IsModified", 1);
  } else {
    slots.push_back(added);
    failure = WriteSlots(slots, at, at);
  }
  if (!failure.empty()) {
    if (unrecorded.empty()) ForgetStart(name);
    return {failure, ""};
  }
  return {"", "added '" + name + "' as printer " + std::to_string(at + 1) + ", " +
                  std::to_string(cost) + " a page" + DescribePrices(prices) +
                  (queue == QueueState::kPresent ? "" : " (no such queue yet: forced)") +
                  (unrecorded.empty()
                       ? ""
                       : "\nwarning: when it was added could not be recorded (" + unrecorded +
                             "): its jobs count from the agent's first look at it")};
}

Outcome PrinterAdmin::Remove(const std::string& name) {
  Slots stored;
  if (std::string problem = ReadSlots(&stored); !problem.empty()) return {problem, ""};
  for (const auto& [slot, hidden] : stored.above) {
    if (hidden.name != name) continue;
    // Not accounted: its values go, the counted slots stay as they are.
    if (std::string failure = WriteSlot(static_cast<std::size_t>(slot), {}); !failure.empty()) {
      return {failure, ""};
    }
    ForgetStart(name);
    return {"", "removed '" + name + "' from slot " + std::to_string(slot) +
                    " above nPrinters; its logs stay where they are"};
  }
  if (!stored.countProblem.empty()) return {stored.countProblem + ", then remove", ""};
  std::vector<Slot>& slots = stored.counted;
  const int at = Find(slots, name);
  if (at < 0) return {"no printer '" + name + "' is configured (pelkoctl list shows them)", ""};
  const std::size_t oldCount = slots.size();
  slots.erase(slots.begin() + at);
  if (std::string failure = WriteSlots(slots, static_cast<std::size_t>(at), oldCount);
      !failure.empty()) {
    return {failure, ""};
  }
  ForgetStart(name);
  return {"", "removed '" + name + "'; its logs stay where they are"};
}

Outcome PrinterAdmin::SetCost(const std::string& name, std::optional<uint32_t> cost,
                              const PriceChange& prices) {
  if (cost && *cost > kMaxPageCost) {
    return {"a cost per page is at most " + std::to_string(kMaxPageCost), ""};
  }
  if (std::string problem = RejectPrices(prices); !problem.empty()) return {problem, ""};
  Slots stored;
  if (std::string problem = ReadSlots(&stored); !problem.empty()) return {problem, ""};
  // A printer above nPrinters is priced too: taking it in bills it so.
  std::vector<Slot> every = stored.counted;
  for (const auto& [slot, hidden] : stored.above) {
    every.resize(static_cast<std::size_t>(slot), Slot{});
    every[static_cast<std::size_t>(slot) - 1] = hidden;
  }
  const int at = Find(every, name);
  if (at < 0) return {"no printer '" + name + "' is configured (pelkoctl list shows them)", ""};
  // The printer thread reads its prices at every job: no restart is needed.
  Slot& slot = every[static_cast<std::size_t>(at)];
  Apply(prices, &slot.prices);
  // A cost stored with the wrong type is stored again as a number.
  std::string failure = cost ? key.PutNumber(SlotCost(at + 1), *cost) : "";
  if (failure.empty()) failure = WritePrices(static_cast<std::size_t>(at + 1), slot.prices);
  if (!failure.empty()) return {failure, ""};
  std::string said = DescribePrices(prices);
  if (cost) said = std::to_string(*cost) + " a page" + said;
  if (!cost) said.erase(0, 2);
  return {"", "'" + name + "' now costs " + said};
}

}  // namespace pelko::ctl
