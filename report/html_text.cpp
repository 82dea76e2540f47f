#include "report/html_text.h"

namespace pelko::report {

// A narrow no-break space between thousands reads the same in any locale.
constexpr std::string_view kThin = "&#8239;";
std::string HtmlNumber(int64_t n) { return GroupThousands(n, kThin); }
std::string HtmlCost(const Report& r, int64_t cost) { return ShownCost(r, cost, kThin); }

void AppendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (b >= 0x20 && b != 0x7F) out += c;
    }
  }
}

}  // namespace pelko::report
