#include "report/svg_chart.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "agent/util/civil_time.h"
#include "report/html_text.h"

namespace pelko::report {

namespace {

constexpr std::string_view kPagesFill = "#1b4f8a";
constexpr std::string_view kCostFill = "#d9822b";
constexpr std::string_view kGridStroke = "#dde3ea";
constexpr std::string_view kEllipsis = "&#8230;";

// num / den with `decimals` places, rounded half up, without floating point
// so that the same figures give the same bytes on every build. num >= 0,
// den > 0.
std::string Fixed(int64_t num, int64_t den, int decimals) {
  int64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const int64_t scaled =
      static_cast<int64_t>((static_cast<__int128>(num) * scale * 2 + den) / (2 * den));
  std::string out = std::to_string(scaled / scale);
  if (decimals > 0) {
    std::string fraction = std::to_string(scaled % scale);
    out += '.' + std::string(static_cast<std::size_t>(decimals) - fraction.size(), '0') + fraction;
  }
  return out;
}

// part of whole as a percentage of `of` (the share of the width a bar may
// take): "37.500%"; a negative part draws nothing.
std::string Percent(int64_t part, int64_t whole, int64_t of = 100) {
  return Fixed(std::max<int64_t>(part, 0) * of, std::max<int64_t>(whole, 1), 3) + "%";
}

void Attribute(std::string& out, std::string_view name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  out += value;
  out += '"';
}

void Open(std::string& out, std::string_view field, int height, std::string_view title) {
  const std::string id = "chart-" + std::string(field);
  out += "<div class=\"chart\"><svg xmlns=\"http://www.w3.org/2000/svg\"";
  Attribute(out, "id", id);
  out += " role=\"img\"";
  Attribute(out, "aria-labelledby", id + "-title");
  Attribute(out, "width", "100%");
  Attribute(out, "height", std::to_string(height));
  out += " font-size=\"12\" fill=\"#1b1f24\">\n<title";
  Attribute(out, "id", id + "-title");
  out += '>';
  out += title;
  out += "</title>\n<text x=\"0\" y=\"13\" font-weight=\"600\">";
  out += title;
  out += "</text>\n";
}

void Close(std::string& out) { out += "</svg></div>\n"; }

// Characters of text in the report's encoding, and where the nth begins.
std::size_t CharCount(std::string_view text, bool utf8) {
  if (!utf8) return text.size();
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::size_t ByteOfChar(std::string_view text, std::size_t n, bool utf8) {
  if (!utf8) return std::min(n, text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && n-- == 0) return i;
  }
  return text.size();
}

void FullName(std::string& out, std::string_view name) {
  if (name.empty()) {
    out += "(none)";
  } else {
    AppendEscaped(out, name);
  }
}

// A name as a chart's label: escaped as the tables escape it, cut with an
// ellipsis past kChartLabelChars. The name is isolated, so that a
// right-to-left name or a stray direction mark in it moves nothing outside.
void Label(std::string& out, const Report& r, std::string_view name, int y) {
  out += "<text x=\"0\" y=\"" + std::to_string(y) + "\" direction=\"ltr\">";
  if (name.empty()) {
    out += "<tspan font-style=\"italic\" fill=\"#8a939c\">(none)</tspan></text>\n";
    return;
  }
  const bool utf8 = r.encoding == TextEncoding::kUtf8;
  const bool cut = CharCount(name, utf8) > kChartLabelChars;
  out += "<tspan unicode-bidi=\"isolate\">";
  AppendEscaped(out, cut ? name.substr(0, ByteOfChar(name, kChartLabelChars - 1, utf8)) : name);
  out += "</tspan>";
  if (cut) out += kEllipsis;
  out += "</text>\n";
}

// An open <rect>: the caller adds what else it needs and closes it.
void Bar(std::string& out, std::string_view kind, std::string_view x, std::string_view y,
         std::string_view width, std::string_view height, std::string_view fill, int64_t value) {
  out += "<rect";
  Attribute(out, "class", kind);
  Attribute(out, "x", x);
  Attribute(out, "y", y);
  Attribute(out, "width", width);
  Attribute(out, "height", height);
  Attribute(out, "fill", fill);
  Attribute(out, "data-value", std::to_string(value));
}

void Swatch(std::string& out, int x, int y, std::string_view fill, std::string_view label) {
  out += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y - 9) +
         "\" width=\"10\" height=\"10\" fill=\"" + std::string(fill) + "\"/><text x=\"" +
         std::to_string(x + 14) + "\" y=\"" + std::to_string(y) + "\">";
  out += label;
  out += "</text>\n";
}

// A figure's text at x on line y, in the muted colour.
void Figure(std::string& out, std::string_view x, int y, const std::string& text) {
  out += "<text x=\"";
  out += x;
  out +=
      "\" y=\"" + std::to_string(y) + "\" font-size=\"11\" fill=\"#5a6470\">" + text + "</text>\n";
}

// A day YYYYMMDD or YYYY/MM/DD as days since 1970; none for anything else.
std::optional<int64_t> DayNumber(std::string_view date) {
  const std::string day = LogDateOf(date);
  if (day.size() != 8 || day.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const int year = std::stoi(day.substr(0, 4)), month = std::stoi(day.substr(4, 2)),
            dayOfMonth = std::stoi(day.substr(6, 2));
  if (!IsRealDate(year, month, dayOfMonth)) return std::nullopt;
  return DaysFromCivil(year, month, dayOfMonth);
}

// Months since year 0 of a day since 1970.
int64_t MonthOfDay(int64_t day) {
  int year = 0, month = 0, dayOfMonth = 0;
  CivilFromDays(day, &year, &month, &dayOfMonth);
  return int64_t{year} * 12 + month - 1;
}

std::optional<int64_t> MonthNumber(std::string_view month) {
  const auto day = DayNumber(std::string(month) + "/01");
  if (!day) return std::nullopt;
  return MonthOfDay(*day);
}

// The days the report covers: its period, widened to every job's date (a
// log's entries may cross its midnight).
std::optional<std::pair<int64_t, int64_t>> Period(const Report& r) {
  std::optional<int64_t> first = DayNumber(r.from), last = DayNumber(r.to);
  for (const std::string* date : {&r.firstDate, &r.lastDate}) {
    const auto day = DayNumber(*date);
    if (!day) continue;
    first = std::min(first.value_or(*day), *day);
    last = std::max(last.value_or(*day), *day);
  }
  if (!first || !last) return std::nullopt;
  return std::pair{*first, *last};
}

struct Column {
  int64_t slot;
  std::string label;  // ASCII: a date or a month
  int64_t value;
};

// The top of the scale and its step: 1, 2 or 5 times a power of ten, at
// most four steps up to top.
std::pair<int64_t, int64_t> Scale(int64_t largest) {
  int64_t step = 1;
  for (int64_t power = 1;; power *= 10) {
    for (const int64_t m : {1, 2, 5}) {
      step = m * power;
      if (largest <= 4 * step) return {(largest + step - 1) / step * step, step};
    }
  }
}

// Columns on a time axis of `slots` places, the pages of each; the scale's
// figures in a gutter on the left of the plot.
std::string ColumnChart(std::string_view field, std::string_view title, int64_t slots,
                        const std::vector<Column>& columns, const std::string& firstLabel,
                        const std::string& lastLabel) {
  int64_t largest = 0;
  for (const Column& c : columns) largest = std::max(largest, c.value);
  if (slots < 2 || largest <= 0) return "";
  constexpr int kPlotTop = 28, kPlotHeight = 110, kBottom = kPlotTop + kPlotHeight;
  constexpr int64_t kGutter = 12;  // percent of the width
  const auto [top, step] = Scale(largest);
  std::string out;
  Open(out, field, kBottom + 22, title);
  for (int64_t tick = 0; tick <= top; tick += step) {
    const std::string y = Fixed(int64_t{kBottom} * top - kPlotHeight * tick, top, 2);
    out += "<line x1=\"" + std::to_string(kGutter) + "%\" x2=\"100%\" y1=\"" + y + "\" y2=\"" + y +
           "\" stroke=\"" + std::string(kGridStroke) + "\"/>\n<text x=\"" +
           std::to_string(kGutter - 1) + "%\" y=\"" + y +
           "\" dy=\"4\" font-size=\"10\" fill=\"#5a6470\" text-anchor=\"end\">" + HtmlNumber(tick) +
           "</text>\n";
  }
  // A column takes 8 tenths of its place, centred; pixels with two places
  // over the scale's top keep the figures' proportions.
  const int64_t places = slots * 10;
  for (const Column& c : columns) {
    if (c.value <= 0) continue;
    const int64_t height = kPlotHeight * c.value;
    Bar(out, "pages",
        Fixed(kGutter * places + (c.slot * 10 + 1) * (100 - kGutter), places, 3) + "%",
        Fixed(int64_t{kBottom} * top - height, top, 2), Fixed(8 * (100 - kGutter), places, 3) + "%",
        Fixed(height, top, 2), kPagesFill, c.value);
    out += " data-label=\"" + c.label + "\"><title>" + c.label + ": " + HtmlNumber(c.value) +
           (c.value == 1 ? " page" : " pages") + "</title></rect>\n";
  }
  const std::string y = std::to_string(kBottom + 15);
  out += "<text x=\"" + std::to_string(kGutter) + "%\" y=\"" + y +
         "\" font-size=\"11\" fill=\"#5a6470\">" + firstLabel + "</text>\n";
  out += "<text x=\"100%\" y=\"" + y + "\" font-size=\"11\" fill=\"#5a6470\" text-anchor=\"end\">" +
         lastLabel + "</text>\n";
  Close(out);
  return out;
}

}  // namespace

std::string ShareText(int64_t part, int64_t whole) {
  if (whole <= 0 || part <= 0) return "0%";
  return Fixed(part * 100, whole, 1) + "%";
}

std::string GroupChart(const Report& r, const JobGroup& group) {
  const std::vector<Subtotal>& groups = r.*group.groups;
  if (groups.empty()) return "";
  const std::string title = "Pages and cost per " + std::string(group.field);
  std::vector<const Subtotal*> charted;
  Subtotal others{"Others"};
  int64_t rest = 0;  // the groups in others
  for (const Subtotal& s : groups) {
    if (charted.size() < kChartedGroups) {
      charted.push_back(&s);
      continue;
    }
    rest += 1;
    others.pages += s.pages;
    others.cost += s.cost;
  }
  if (rest > 0) charted.push_back(&others);
  int64_t mostPages = 1, mostCost = 1;
  for (const Subtotal* s : charted) {
    mostPages = std::max(mostPages, s->pages);
    mostCost = std::max(mostCost, s->cost);
  }
  // Each row: its name, then the pages bar and the cost bar, each with its
  // figure beside it in the last part of the width.
  constexpr int kTop = 40, kRow = 44, kBarsWidth = 60;
  std::string out;
  Open(out, group.field, kTop + kRow * static_cast<int>(charted.size()), title);
  Swatch(out, 0, 30, kPagesFill, "Pages");
  Swatch(out, 70, 30, kCostFill, "Cost");
  int y = kTop;
  for (const Subtotal* s : charted) {
    const bool isOthers = s == &others;
    out += isOthers ? "<g class=\"row others\"" : "<g class=\"row\"";
    out += " data-name=\"";
    FullName(out, s->name);
    out += "\"><title>";
    if (isOthers) {
      out += "Others: " + HtmlNumber(rest) + " more " + std::string(group.plural);
    } else {
      FullName(out, s->name);
    }
    out += "</title>\n";
    if (isOthers) {
      out += "<text x=\"0\" y=\"" + std::to_string(y + 12) +
             "\" font-style=\"italic\">Others</text>\n";
    } else {
      Label(out, r, s->name, y + 12);
    }
    Bar(out, "pages", "0", std::to_string(y + 16), Percent(s->pages, mostPages, kBarsWidth), "10",
        kPagesFill, s->pages);
    out += "/>\n";
    Figure(out, "61%", y + 25, HtmlNumber(s->pages));
    Bar(out, "cost", "0", std::to_string(y + 29), Percent(s->cost, mostCost, kBarsWidth), "7",
        kCostFill, s->cost);
    out += "/>\n";
    Figure(out, "61%", y + 37, HtmlCost(r, s->cost));
    out += "</g>\n";
    y += kRow;
  }
  Close(out);
  return out;
}

std::string DayChart(const Report& r) {
  const auto period = Period(r);
  if (!period) return "";
  std::vector<Column> columns;
  for (const Subtotal& day : r.days) {
    if (const auto n = DayNumber(day.name))
      columns.push_back({*n - period->first, ShownDate(day.name), day.pages});
  }
  auto shown = [](int64_t day) {
    int year = 0, month = 0, dayOfMonth = 0;
    CivilFromDays(day, &year, &month, &dayOfMonth);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, dayOfMonth);
    return std::string(text);
  };
  return ColumnChart("day", "Pages per day", period->second - period->first + 1, columns,
                     shown(period->first), shown(period->second));
}

std::string MonthChart(const Report& r) {
  const auto period = Period(r);
  if (!period) return "";
  const int64_t first = MonthOfDay(period->first), last = MonthOfDay(period->second);
  if (last - first + 1 <= 2) return "";
  auto shown = [](int64_t month) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02d", static_cast<int>(month / 12),
                  static_cast<int>(month % 12 + 1));
    return ShownMonth(text);
  };
  std::vector<Column> columns;
  for (const Subtotal& month : r.months) {
    if (const auto n = MonthNumber(month.name))
      columns.push_back({*n - first, ShownMonth(month.name), month.pages});
  }
  return ColumnChart("month", "Pages per month", last - first + 1, columns, shown(first),
                     shown(last));
}

std::string SplitChart(const Report& r) {
  const std::vector<PageFigure> figures = SplitFigures(r.split, r.split);
  int64_t all = 0;
  for (const PageFigure& f : figures) all += std::max<int64_t>(f.value, 0);
  if (all <= 0) return "";
  constexpr int kBarTop = 22, kBarHeight = 22, kLegendTop = 62, kLine = 18;
  std::string out;
  Open(out, "colour", kLegendTop + kLine * static_cast<int>(figures.size()) - 8,
       "Colour and mono pages");
  auto fill = [](std::string_view key) {
    return key == "color"  ? std::string_view("#c2185b")
           : key == "mono" ? std::string_view("#37474f")
                           : std::string_view("#c9d1da");
  };
  // Each part starts where the ones before it end, so that they fill the bar.
  int64_t before = 0;
  int legend = kLegendTop;
  for (const PageFigure& f : figures) {
    const int64_t value = std::max<int64_t>(f.value, 0);
    const int64_t from = (before * 200000 + all) / (2 * all),
                  to = ((before + value) * 200000 + all) / (2 * all);
    Bar(out, f.key, Fixed(from, 1000, 3) + "%", std::to_string(kBarTop),
        Fixed(to - from, 1000, 3) + "%", std::to_string(kBarHeight), fill(f.key), f.value);
    out += " data-label=\"";
    out += f.label;
    out += "\"><title>";
    out += f.label;
    out += ": " + HtmlNumber(f.value) + " pages, " + ShareText(f.value, all) + "</title></rect>\n";
    Swatch(
        out, 0, legend, fill(f.key),
        std::string(f.label) + ": " + HtmlNumber(f.value) + " (" + ShareText(f.value, all) + ")");
    legend += kLine;
    before += value;
  }
  Close(out);
  return out;
}

}  // namespace pelko::report
