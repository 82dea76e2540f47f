#include "agent/accounting/page_color.h"

#include <algorithm>
#include <cmath>

namespace pelko {

uint32_t ColorDistance(const PageInk& ink) {
  const double most = std::max({ink.cyan, ink.magenta, ink.yellow});
  const double least = std::min({ink.cyan, ink.magenta, ink.yellow});
  const double distance = std::clamp(most - least, 0.0, 1.0);
  // A measure that is not a number is no evidence of colour.
  if (std::isnan(distance)) return 0;
  return static_cast<uint32_t>(std::lround(distance * 10000));
}

bool IsColorPage(const PageInk& ink, uint32_t threshold) { return ColorDistance(ink) > threshold; }

uint32_t ColorPagesAmong(const std::vector<bool>& documentPageIsColor, uint32_t printedPages) {
  const uint64_t pages = documentPageIsColor.size();
  if (pages == 0) return 0;
  const auto colorIn = [&](uint64_t count) {
    return static_cast<uint64_t>(
        std::count(documentPageIsColor.begin(), documentPageIsColor.begin() + count, true));
  };
  const uint64_t whole = printedPages / pages;
  return static_cast<uint32_t>(whole * colorIn(pages) + colorIn(printedPages % pages));
}

}  // namespace pelko
