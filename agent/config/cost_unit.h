// How reports and mails show a cost: the CostUnit setting, "UNIT/DECIMALS"
// ("EUR/2": the logs' costs are cents, 1311 shown as "13.11 EUR"). The logs
// and the database keep whole numbers whatever it says; absent, a cost is
// shown as the bare number it is kept as.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "agent/platform/registry.h"

namespace pelko {

struct CostUnit {
  std::string unit;  // empty: no unit, and no decimals
  int decimals = 0;
};

inline constexpr int kMostCostDecimals = 4;

// "EUR", "EUR/2", "" (none). Why text is no unit, or empty when it is one.
std::string ParseCostUnit(std::string_view text, CostUnit* unit);

// CostUnit as stored; no unit where it is missing or no unit (*trouble,
// when given, then says why).
CostUnit ReadCostUnit(Registry& registry, std::string* trouble = nullptr);

// cost as shown: "1 311" without a unit, "13.11 EUR" with "EUR/2"; thousands
// grouped by sep, the decimals after point.
std::string CostText(int64_t cost, const CostUnit& unit, std::string_view sep = " ",
                     char point = '.', bool withUnit = true);

}  // namespace pelko
