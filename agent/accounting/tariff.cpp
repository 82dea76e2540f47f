#include "agent/accounting/tariff.h"

#include <algorithm>
#include <limits>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/util/coding.h"

namespace pelko {

namespace {

constexpr uint32_t kWholeFactor = 1000;  // a factor of 1, in thousandths

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNameByte(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-' ||
         c == '.';
}

// "2", "1.5", "0.125" in thousandths; false for anything else, and for
// more decimals than a thousandth holds (never rounded unseen).
bool ParseFactor(std::string_view text, uint32_t* thousandths) {
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view part = point == std::string_view::npos ? "" : text.substr(point + 1);
  if (whole.empty() || whole.size() > 7 || part.size() > 3) return false;
  if (point != std::string_view::npos && part.empty()) return false;
  uint64_t value = 0;
  for (char c : whole) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  uint64_t fraction = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const char c = i < part.size() ? part[i] : '0';
    if (!IsDigit(c)) return false;
    fraction = fraction * 10 + static_cast<uint64_t>(c - '0');
  }
  value = value * kWholeFactor + fraction;
  if (value > kMaxPaperFactorThousandths) return false;
  *thousandths = static_cast<uint32_t>(value);
  return true;
}

uint32_t PaperFactor(const Tariff& tariff, std::string_view paper) {
  if (tariff.paperFactors.empty() || paper.empty()) return kWholeFactor;
  const std::string key = PaperKey(paper);
  for (const auto& [name, factor] : tariff.paperFactors) {
    if (name == key) return factor;
  }
  return kWholeFactor;
}

bool IsTwoSided(std::string_view sides) {
  constexpr std::string_view kTwoSided = "two-sided";
  return sides.size() >= kTwoSided.size() &&
         AsciiEqualFold(sides.substr(0, kTwoSided.size()), kTwoSided);
}

// The value as its reader's one reading found it; `absent` where it did not.
template <typename Value, typename T>
T ReadOnce(Registry& registry, const std::string& path, T absent) {
  const Value value(registry, path, absent);
  return value.Loaded() ? value.Held() : absent;
}

}  // namespace

Tariff ReadTariff(Registry& registry, int index) {
  Tariff tariff;
  tariff.monoCost = ReadOnce<RegistryDwordValue>(registry, settings::PrinterCost(index), 0u);
  tariff.colorCost =
      ReadOnce<RegistryDwordValue>(registry, settings::PrinterColorCost(index), tariff.monoCost);
  tariff.duplexDiscountPercent = std::min<uint32_t>(
      ReadOnce<RegistryDwordValue>(registry, settings::PrinterDuplexDiscount(index), 0u), 100);
  const std::string factors =
      ReadOnce<RegistryStringValue>(registry, settings::PrinterPaperFactors(index), std::string());
  std::string error;
  // A text the administrator mistyped counts every paper as 1 (pelkoctl
  // check says why) rather than pricing by half of what was meant.
  if (!ParsePaperFactors(factors, &tariff.paperFactors, &error)) tariff.paperFactors.clear();
  return tariff;
}

int64_t Cost(const Tariff& tariff, const PrintedPages& pages) {
  // Up to 2^33 pages' worth of 2^32 each, times a factor and a percent:
  // beyond 64 bits, within 128, so the sum is exact before its one rounding.
  using Wide = unsigned __int128;
  const Wide priced = Wide(pages.color) * tariff.colorCost + Wide(pages.mono) * tariff.monoCost;
  const uint32_t percent =
      IsTwoSided(pages.sides) ? 100 - std::min<uint32_t>(tariff.duplexDiscountPercent, 100) : 100;
  const Wide denominator = Wide(kWholeFactor) * 100;
  const Wide cost =
      (priced * PaperFactor(tariff, pages.paper) * percent + denominator / 2) / denominator;
  constexpr Wide kMost = std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(std::min(cost, kMost));
}

bool ParsePaperFactors(std::string_view text,
                       std::vector<std::pair<std::string, uint32_t>>* factors, std::string* error) {
  factors->clear();
  if (TrimBlanks(text).empty()) return true;
  auto refuse = [&](const std::string& why) {
    factors->clear();
    if (error != nullptr) *error = why;
    return false;
  };
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = TrimBlanks(text.substr(start, comma - start));
    start = comma + 1;
    const std::size_t equals = item.find('=');
    if (equals == std::string::npos) {
      return refuse(item.empty() ? "an empty item between commas"
                                 : "'" + item + "' is no PAPER=FACTOR (A3=2)");
    }
    const std::string name = TrimBlanks(std::string_view(item).substr(0, equals));
    const std::string number = TrimBlanks(std::string_view(item).substr(equals + 1));
    if (name.empty() || !std::all_of(name.begin(), name.end(), IsNameByte)) {
      return refuse("'" + name + "' is no paper name (letters, digits, '_', '-', '.')");
    }
    uint32_t factor = 0;
    if (!ParseFactor(number, &factor)) {
      return refuse("'" + number + "' for " + name +
                    " is no factor (a number such as 2, 1.5 or 0.25, at most three decimals, "
                    "at most " +
                    std::to_string(kMaxPaperFactorThousandths / kWholeFactor) + ")");
    }
    if (factor == 0) return refuse(name + "=0 would make its pages free; a factor is more than 0");
    const std::string key = PaperKey(name);
    auto same = std::find_if(factors->begin(), factors->end(),
                             [&](const auto& known) { return known.first == key; });
    if (same == factors->end()) {
      factors->emplace_back(key, factor);
    } else if (same->second != factor) {
      // Ledger and Tabloid are one paper: two factors for it is a slip.
      return refuse(name + " is given two factors (" + key + " is one paper)");
    }
  }
  return true;
}

std::string PaperKey(std::string_view paper) {
  std::string key = AsciiLowered(TrimBlanks(paper));
  // PWG's self-describing names, class_name_WxHunit: the name between.
  const std::size_t first = key.find('_');
  const std::size_t last = key.rfind('_');
  if (first != std::string::npos && last > first) {
    const std::string_view size = std::string_view(key).substr(last + 1);
    const bool measured =
        size.find('x') != std::string_view::npos && (size.ends_with("mm") || size.ends_with("in"));
    if (measured) {
      const std::string sizeClass = key.substr(0, first);
      std::string name = key.substr(first + 1, last - first - 1);
      // A PPD's B4 and B5 are JIS's; ISO's are ISOB4, ISOB5.
      if (sizeClass == "iso" && name.size() >= 2 && name[0] == 'b' && IsDigit(name[1])) {
        name = "iso" + name;
      }
      key = name;
    }
  } else if (const std::size_t dot = key.find('.'); dot != std::string::npos && dot > 0) {
    // A PPD's variants of one paper: "A4.Transverse", "Letter.Fullbleed".
    key.erase(dot);
  }
  if (key == "ledger") key = "tabloid";
  return key;
}

std::string FormatPaperFactors(const std::vector<std::pair<std::string, uint32_t>>& factors) {
  std::string text;
  for (const auto& [name, factor] : factors) {
    if (!text.empty()) text += ',';
    text += name + '=' + std::to_string(factor / kWholeFactor);
    if (uint32_t part = factor % kWholeFactor; part != 0) {
      std::string digits = std::to_string(part + kWholeFactor).substr(1);  // three, leading zeros
      while (digits.back() == '0') digits.pop_back();
      text += '.' + digits;
    }
  }
  return text;
}

}  // namespace pelko
