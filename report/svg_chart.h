// The charts of the HTML report as inline SVG, drawn by the page itself: no
// script, font or image from elsewhere, so that a mail reader shows them as
// it shows the tables. Each chart stands by the table that is its text
// alternative; each bar carries the figure it draws (data-value) and its
// row's name (data-name, data-label), so that the bars can be held to the
// table. Lengths along the figures are shares of the chart's width, so a
// chart fits any screen without scrolling; text keeps its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/columns.h"
#include "report/report.h"

namespace pelko::report {

// Groups charted a bar each; the rest share one bar "Others".
inline constexpr std::size_t kChartedGroups = 15;
// Characters of a name a chart shows; a longer one is cut with an ellipsis
// and shown whole in its row's <title>.
inline constexpr std::size_t kChartLabelChars = 40;

// Pages and cost of each of the report's groups (users, printers) in the
// table's order (largest cost first), the chart named by its field
// ("chart-user"). Empty without groups.
std::string GroupChart(const Report& report, const JobGroup& group);
// Pages per day over the report's period; empty for a period of one day.
std::string DayChart(const Report& report);
// Pages per month; empty for a period of two months or less.
std::string MonthChart(const Report& report);
// The colour, mono and not told apart pages as shares of one bar; empty
// where no entry told them apart.
std::string SplitChart(const Report& report);

// part of whole as "34.5%", "0%" without a whole.
std::string ShareText(int64_t part, int64_t whole);

}  // namespace pelko::report
