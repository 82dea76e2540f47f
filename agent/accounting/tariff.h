// What a printer's pages cost: a mono and a colour price, a discount for
// pages printed two-sided and a factor per paper size. Read from the
// settings here and applied here only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/platform/registry.h"

namespace pelko {

struct Tariff {
  uint32_t monoCost = 0;
  uint32_t colorCost = 0;
  uint32_t duplexDiscountPercent = 0;  // 0 to 100
  // Paper sizes by their short names, lower case ("a3", "tabloid"), and
  // what a page of each costs in thousandths of a page of any other.
  std::vector<std::pair<std::string, uint32_t>> paperFactors;
};

// How a run of a job's pages was printed.
struct PrintedPages {
  uint32_t color = 0;
  uint32_t mono = 0;
  std::string_view sides;  // IPP keyword; "two-sided-..." earns the discount
  std::string_view paper;  // as the spooler names it ("A3", "iso_a3_297x420mm")
};

// Printer `index`'s tariff (from 1); a colour price that is not set is the
// mono price, so a printer nobody gave new prices costs what it always did.
Tariff ReadTariff(Registry& registry, int index);

// The cost of the pages, rounded once to the nearest unit: a job entered in
// parts is charged Cost(all) - Cost(entered before), and so costs what it
// would in one piece. With no prices but the mono one, pages * monoCost.
int64_t Cost(const Tariff& tariff, const PrintedPages& pages);

// "A3=2,Tabloid=2,A5=0.5" read; false, with `error` saying why, on a text
// an administrator should be told of.
bool ParsePaperFactors(std::string_view text,
                       std::vector<std::pair<std::string, uint32_t>>* factors, std::string* error);

// The short lower-case name a paper's factor is found under: "A3", "a3",
// "iso_a3_297x420mm" and Windows's "A3" all give "a3"; "Ledger" and
// "na_ledger_11x17in" give "tabloid".
std::string PaperKey(std::string_view paper);

// The largest factor a paper may have (a thousand pages' worth), so that no
// text can make a page's price overflow a log's cost.
inline constexpr uint32_t kMaxPaperFactorThousandths = 1000000;

// The factors as ParsePaperFactors reads them back: "a3=2,tabloid=2,a5=0.5";
// empty for none.
std::string FormatPaperFactors(const std::vector<std::pair<std::string, uint32_t>>& factors);

}  // namespace pelko
