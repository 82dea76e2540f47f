#include "agent/config/cost_unit.h"

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"

namespace pelko {

namespace {

// A unit stands in reports of either encoding and in mail headers: printable
// ASCII only, ISO 4217's codes among them.
constexpr std::size_t kLongestUnit = 8;

std::string Grouped(uint64_t n, std::string_view sep) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return out;
}

}  // namespace

std::string ParseCostUnit(std::string_view text, CostUnit* unit) {
  *unit = CostUnit{};
  if (text.empty()) return "";
  const std::size_t slash = text.find('/');
  const std::string_view name = text.substr(0, slash);
  const std::string usage = "'" + std::string(text) +
                            "' is no cost unit (a unit of up to 8 "
                            "letters or signs, and /DECIMALS from 0 to 4: EUR/2)";
  if (name.empty() || name.size() > kLongestUnit) return usage;
  for (const char c : name) {
    if (c <= ' ' || c > '~') return usage;
  }
  int decimals = 0;
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    if (digits.size() != 1 || digits[0] < '0' || digits[0] - '0' > kMostCostDecimals) return usage;
    decimals = digits[0] - '0';
  }
  unit->unit = std::string(name);
  unit->decimals = decimals;
  return "";
}

CostUnit ReadCostUnit(Registry& registry, std::string* trouble) {
  CostUnit unit;
  const std::string why =
      ParseCostUnit(RegistryStringValue(registry, settings::kCostUnit).Read(), &unit);
  if (trouble != nullptr) *trouble = why.empty() ? "" : "CostUnit " + why;
  return unit;
}

std::string CostText(int64_t cost, const CostUnit& unit, std::string_view sep, char point,
                     bool withUnit) {
  const bool negative = cost < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(cost) : static_cast<uint64_t>(cost);
  uint64_t scale = 1;
  for (int i = 0; i < unit.decimals; ++i) scale *= 10;
  std::string out = negative ? "-" : "";
  out += Grouped(magnitude / scale, sep);
  if (unit.decimals > 0) {
    std::string fraction = std::to_string(magnitude % scale);
    out += point;
    out += std::string(static_cast<std::size_t>(unit.decimals) - fraction.size(), '0') + fraction;
  }
  if (withUnit && !unit.unit.empty()) out += " " + unit.unit;
  return out;
}

}  // namespace pelko
