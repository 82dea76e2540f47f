#include "pelkoctl/command_line.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <iomanip>

#include "agent/config/setting_table.h"
#include "agent/util/coding.h"
#include "pelkoctl/health_check.h"
#include "pelkoctl/job_finder.h"
#include "pelkoctl/printer_admin.h"
#include "pelkoctl/setting_admin.h"
#include "pelkoctl/status.h"

namespace pelko::ctl {

namespace {

constexpr char kUsage[] =
    "Usage: pelkoctl COMMAND [ARGUMENTS]\n"
    "\n"
    "  list                          the printers: slot, name, cost a page, whether\n"
    "                                the spooler has the queue, the last job logged,\n"
    "                                the colour price, two-sided discount, paper factors,\n"
    "                                since when its jobs are billed (or \"not yet\")\n"
    "  add NAME --cost N [PRICES] [--force]\n"
    "                                account printer NAME at N a page; --force takes\n"
    "                                a queue the spooler does not have (yet)\n"
    "  remove NAME                   stop accounting NAME (its logs stay)\n"
    "  cost NAME [N] [PRICES]        the new prices from the next job on\n"
    "  show [SETTING]                the settings with their values and stored types\n"
    "  set SETTING VALUE             one setting, stored with its type\n"
    "  settings [--markdown]         every setting: its type, values, who writes it\n"
    "                                and what it means\n"
    "  status [--json]               today's pages and cost per printer, the agent's\n"
    "                                uptime, the last entry, pages pending, the\n"
    "                                central database and the last mail\n"
    "  find ID | --user NAME | --title TEXT\n"
    "                                where a job was entered, or why it was not\n"
    "  check [--probe]               what would stop accounting or mailing, each\n"
    "                                line as it is known and a summary last;\n"
    "                                --probe: a monitoring plugin's output, the\n"
    "                                summary line first\n"
    "\n"
    "PRICES, each optional (unset: colour pages cost N, no discount, factors 1):\n"
    "  --color-cost C                a colour page costs C ('none': N again)\n"
    "  --duplex-discount PCT         PCT percent off each two-sided page (0 to 100)\n"
    "  --paper-factors TEXT          what a page of a paper costs against others,\n"
    "                                \"A3=2,Tabloid=2,A5=0.5\" ('': none)\n"
    "\n"
    "Works on the settings the agent reads, HKLM\\Software\\Pelko: on Windows\n"
    "the machine's registry, on Linux the store named by PELKO_REGISTRY (default\n"
    "/var/lib/pelko/registry). Commands and switches take any case; /? is --help;\n"
    "--version tells the version.\n"
    "Exit status: 0 done, 1 refused or failed, 2 bad arguments. check: 0 all is\n"
    "well (accepted warnings aside, setting AcceptedWarnings), 1 warnings,\n"
    "2 faults, 3 bad arguments.\n";

int Usage(std::ostream& err, const std::string& why) {
  err << "pelkoctl: " << why << "\n\n" << kUsage;
  return 2;
}

int Done(const Outcome& outcome, std::ostream& out, std::ostream& err) {
  if (!outcome.ok()) {
    err << "pelkoctl: " << outcome.problem << '\n';
    return 1;
  }
  if (!outcome.message.empty()) out << outcome.message << '\n';
  return 0;
}

// A cost is a decimal number of the smallest unit of money, as in the logs.
bool ParseCost(const std::string& text, uint32_t* cost, std::string* why) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value, 10);
  if (text.empty() || error != std::errc() || at != end) {
    *why = "cost '" + text + "' is not a whole decimal number (no sign, no 0x, no decimal point)";
    return false;
  }
  if (value > kMaxPageCost) {
    *why =
        "cost " + text + " is more than the logs can hold (" + std::to_string(kMaxPageCost) + ")";
    return false;
  }
  *cost = static_cast<uint32_t>(value);
  return true;
}

// One of add's or cost's price options at args[*i], taken into *prices; false
// when args[*i] is none of them. A bad value sets *why.
bool TakePriceOption(const std::vector<std::string>& args, std::size_t* i, PriceChange* prices,
                     std::string* why) {
  std::string name = args[*i];
  std::string value;
  const std::size_t equals = name.find('=');
  if (equals != std::string::npos) {
    value = name.substr(equals + 1);
    name.erase(equals);
  }
  if (name != "--color-cost" && name != "--duplex-discount" && name != "--paper-factors") {
    return false;
  }
  if (equals == std::string::npos) {
    if (*i + 1 == args.size()) {
      *why = name + " needs a value";
      return true;
    }
    value = args[++*i];
  }
  if (name == "--color-cost") {
    uint32_t cost = 0;
    prices->dropColorCost = value == "none";
    prices->colorCost.reset();
    if (!prices->dropColorCost && !ParseCost(value, &cost, why)) {
      *why = "--color-cost: " + *why + " ('none' drops it)";
    } else if (!prices->dropColorCost) {
      prices->colorCost = cost;
    }
  } else if (name == "--duplex-discount") {
    uint32_t percent = 0;
    std::string digits = value;
    if (!digits.empty() && digits.back() == '%') digits.pop_back();
    if (!ParseCost(digits, &percent, why) || percent > 100) {
      *why = "--duplex-discount '" + value + "' is no percent (a whole number, 0 to 100)";
    }
    prices->duplexDiscount = percent;
  } else {
    prices->paperFactors = value;
  }
  if (why->empty()) *why = RejectPrices(*prices);
  return true;
}

int List(const Env& env, std::ostream& out, std::ostream& err) {
  std::vector<PrinterRow> rows;
  std::string countProblem;
  PrinterAdmin admin(env);
  if (Outcome listed = admin.List(&rows, &countProblem); !listed.ok()) {
    return Done(listed, out, err);
  }
  if (rows.empty() && countProblem.empty()) {
    out << "no printer is configured: pelkoctl add NAME --cost N\n";
    return 0;
  }
  std::size_t nameWidth = 4;
  std::size_t entryWidth = 10;
  std::size_t paperWidth = 5;
  for (const PrinterRow& row : rows) {
    nameWidth = std::max(nameWidth, row.name.size());
    entryWidth = std::max(entryWidth, std::max<std::size_t>(row.lastEntry.size(), 1));
    paperWidth = std::max(paperWidth, FormatPaperFactors(row.tariff.paperFactors).size());
  }
  // The prices beyond the mono one come after the columns scripts know.
  out << std::left << std::setw(5) << "SLOT" << std::setw(static_cast<int>(nameWidth) + 2) << "NAME"
      << std::right << std::setw(10) << "COST"
      << "  " << std::left << std::setw(13) << "QUEUE"
      << std::setw(static_cast<int>(entryWidth) + 2) << "LAST ENTRY" << std::right << std::setw(10)
      << "COLOUR" << std::setw(11) << "TWO-SIDED"
      << "  " << std::left << std::setw(static_cast<int>(paperWidth) + 2) << "PAPER"
      << "WATCHING\n";
  std::string notes;
  for (const PrinterRow& row : rows) {
    const std::string factors = FormatPaperFactors(row.tariff.paperFactors);
    const uint32_t off = row.tariff.duplexDiscountPercent;
    const std::string discount = (off == 0 ? "" : "-") + std::to_string(off) + "%";
    // A row the agent cannot use as stored is marked, and said below.
    const std::string slot = std::to_string(row.slot) + (row.problem.empty() ? "" : "!");
    const bool named = !row.name.empty();
    const bool costMisread = !row.problem.empty() && !row.hidden && named;
    out << std::left << std::setw(5) << slot << std::setw(static_cast<int>(nameWidth) + 2)
        << (named ? row.name : "-") << std::right << std::setw(10)
        << (costMisread ? "?"
            : named     ? std::to_string(row.cost)
                        : "-")
        << "  " << std::left << std::setw(13) << (named ? QueueStateText(row.queue) : "-")
        << std::setw(static_cast<int>(entryWidth) + 2)
        << (row.lastEntry.empty() ? "-" : row.lastEntry) << std::right << std::setw(10)
        << row.tariff.colorCost << std::setw(11) << discount << "  " << std::left
        << std::setw(static_cast<int>(paperWidth) + 2) << (factors.empty() ? "-" : factors)
        << (named ? row.watching : "-") << '\n';
    if (!row.problem.empty()) notes += "! " + row.problem + " (" + row.fix + ")\n";
  }
  if (!countProblem.empty()) notes = "! " + countProblem + "\n" + notes;
  out << notes;
  return 0;
}

int Add(const Env& env, const std::vector<std::string>& args, std::ostream& out,
        std::ostream& err) {
  std::string name;
  std::string costText;
  bool haveCost = false;
  bool force = false;
  PriceChange prices;
  std::string why;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (TakePriceOption(args, &i, &prices, &why)) {
      if (!why.empty()) return Usage(err, "add: " + why);
    } else if (args[i] == "--force") {
      force = true;
    } else if (args[i] == "--cost") {
      if (++i == args.size()) return Usage(err, "--cost needs a number");
      costText = args[i];
      haveCost = true;
    } else if (args[i].rfind("--cost=", 0) == 0) {
      costText = args[i].substr(7);
      haveCost = true;
    } else if (args[i].rfind("--", 0) == 0) {
      return Usage(err, "add: unknown option " + args[i]);
    } else if (name.empty()) {
      name = args[i];
    } else {
      return Usage(err, "add: one printer at a time ('" + args[i] + "' is one too many)");
    }
  }
  if (name.empty()) return Usage(err, "add: which printer?");
  if (!haveCost)
    return Usage(err, "add: --cost N is required (the cost of one page; 0 is allowed)");
  uint32_t cost = 0;
  if (!ParseCost(costText, &cost, &why)) return Usage(err, why);
  PrinterAdmin admin(env);
  admin.SetQueueListHint(HintsFor(env).listQueues);
  return Done(admin.Add(name, cost, force, prices), out, err);
}

int Cost(const Env& env, const std::vector<std::string>& args, std::ostream& out,
         std::ostream& err) {
  std::vector<std::string> plain;
  PriceChange prices;
  std::string why;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (TakePriceOption(args, &i, &prices, &why)) {
      if (!why.empty()) return Usage(err, "cost: " + why);
    } else if (args[i].rfind("--", 0) == 0) {
      return Usage(err, "cost: unknown option " + args[i]);
    } else {
      plain.push_back(args[i]);
    }
  }
  if (plain.empty() || plain.size() > 2) return Usage(err, "cost NAME [N] [PRICES]");
  if (plain.size() == 1 && !prices.Any()) return Usage(err, "cost: a price to set: N or PRICES");
  std::optional<uint32_t> cost;
  if (plain.size() == 2) {
    uint32_t mono = 0;
    if (!ParseCost(plain[1], &mono, &why)) return Usage(err, why);
    cost = mono;
  }
  return Done(PrinterAdmin(env).SetCost(plain[0], cost, prices), out, err);
}

int Show(const Env& env, const std::vector<std::string>& args, std::ostream& out,
         std::ostream& err) {
  if (args.size() > 2) return Usage(err, "show: at most one setting");
  std::vector<SettingLine> lines;
  Outcome shown = SettingAdmin(*env.registry).Show(args.size() == 2 ? args[1] : "", &lines);
  if (!shown.ok()) return Done(shown, out, err);
  // One setting lines up as it does among all of them.
  std::size_t nameWidth = 0;
  for (const SettingInfo& setting : KnownSettings())
    nameWidth = std::max(nameWidth, std::strlen(setting.name));
  int status = 0;
  for (const SettingLine& line : lines) {
    // The type as stored, where it is: a mistyped value shows as what it is.
    const uint32_t type =
        line.storedType != kRegNone ? line.storedType : StoredType(line.setting->kind);
    out << std::left << std::setw(static_cast<int>(nameWidth + 2)) << line.setting->name
        << std::setw(11) << RegTypeName(type) << line.shown;
    if (!line.trouble.empty()) {
      out << "   <- " << line.trouble;
      status = 1;
    }
    out << '\n';
  }
  // One setting asked for: its status says whether the agent can use it.
  return args.size() == 2 ? status : 0;
}

int Find(const Env& env, HostProbe* probe, const std::vector<std::string>& args, std::ostream& out,
         std::ostream& err) {
  JobQuery query;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    const std::size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.erase(equals);
    } else if ((name == "--user" || name == "--title") && i + 1 < args.size()) {
      value = args[++i];
    }
    uint32_t id = 0;
    std::string why;
    if (name == "--user" && !value.empty()) {
      query.user = value;
    } else if (name == "--title" && !value.empty()) {
      query.title = value;
    } else if (name.rfind("--", 0) != 0 && !query.id && ParseCost(name, &id, &why) && id > 0) {
      query.id = id;
    } else {
      return Usage(err, "find ID | --user NAME | --title TEXT ('" + args[i] + "' is none of them)");
    }
  }
  if (!query.id && query.user.empty() && query.title.empty()) {
    return Usage(err, "find: which job? ID, --user NAME or --title TEXT");
  }
  return PrintFound(FindJobs(env, probe, query), ReadCostUnit(*env.registry), out);
}

}  // namespace

bool IsHelp(const std::string& word) {
  return word == "--help" || word == "-h" || word == "help" || word == "/?" || word == "-?" ||
         word == "/h" || word == "/help";
}

int RunPelkoctl(const Env& env, HostProbe* probe, const std::vector<std::string>& given,
                std::ostream& out, std::ostream& err) {
  if (given.empty()) return Usage(err, "which command?");
  // Commands and switches in any case, as Windows has them; names and
  // values as given.
  std::vector<std::string> args = given;
  args[0] = AsciiLowered(args[0]);
  for (std::string& arg : args) {
    if (arg.rfind("--", 0) != 0 && arg.rfind("/", 0) != 0) continue;
    if (arg[0] == '/' && arg.size() > 2) continue;  // a Linux path, not a switch
    const std::size_t equals = arg.find('=');
    arg = AsciiLowered(arg.substr(0, equals)) +
          (equals == std::string::npos ? "" : arg.substr(equals));
  }
  const std::string& command = args[0];
  if (IsHelp(command)) {
    out << kUsage;
    return 0;
  }
  if (command == "settings") {
    const bool markdown = args.size() == 2 && args[1] == "--markdown";
    if (args.size() != 1 && !markdown) return Usage(err, "settings takes only --markdown");
    PrintSettingsTable(out, markdown);
    return 0;
  }
  // Said once, before any command meets it value by value.
  if (const std::string refused = probe != nullptr ? probe->StoreRefused() : "";
      !refused.empty() && command != "check") {
    err << "pelkoctl: " << refused << '\n';
    return 1;
  }
  if (command == "list") {
    if (args.size() != 1) return Usage(err, "list takes no arguments");
    return List(env, out, err);
  }
  if (command == "add") return Add(env, args, out, err);
  if (command == "remove") {
    if (args.size() != 2) return Usage(err, "remove NAME");
    return Done(PrinterAdmin(env).Remove(args[1]), out, err);
  }
  if (command == "cost") return Cost(env, args, out, err);
  if (command == "show") return Show(env, args, out, err);
  if (command == "set") {
    if (args.size() != 3) return Usage(err, "set SETTING VALUE");
    return Done(
        SettingAdmin(*env.registry, env.files).Set(args[1], args[2], HintsFor(env).restartAgent),
        out, err);
  }
  if (command == "status") {
    const bool json = args.size() == 2 && args[1] == "--json";
    if (args.size() != 1 && !json) return Usage(err, "status takes only --json");
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const Status status = ReadStatus(env, probe, now);
    json ? PrintStatusJson(status, out) : PrintStatus(status, out);
    return 0;
  }
  if (command == "find") return Find(env, probe, args, out, err);
  if (command == "check") {
    const bool probeForm = args.size() == 2 && (args[1] == "--probe" || args[1] == "--nagios");
    if (args.size() != 1 && !probeForm) {
      Usage(err, "check takes only --probe");
      return kCheckUnknown;
    }
    return RunCheck(env, probe, out, probeForm ? CheckForm::kProbe : CheckForm::kPeople);
  }
  return Usage(err, "unknown command '" + command + "'");
}

}  // namespace pelko::ctl
