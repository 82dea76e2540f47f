// Which pages of a job are colour: a page's ink judged by how far it is from
// neutral, and the colour pages among those a job printed.
#pragma once

#include <cstdint>
#include <vector>

#include "agent/platform/ink_meter.h"

namespace pelko {

// How far from neutral a page's ink may be and still count as mono, in
// hundredths of a percent of the page: half a percent. A mark of full
// colour as small as 18 mm square on A4 passes it (the corpus's logo, an
// inch square, measures 1.04 to 1.10 %), while the colour cast of a grey
// photograph, a level or two in 255 (the corpus's, two levels over half the
// page, measures 0.36 %), stays under it. On tests/colour's corpus, at 30
// dpi as at 150, every page is judged right from 37 to 103.
inline constexpr uint32_t kDefaultColorThreshold = 50;

// How far the page's coloured inks are from neutral, in hundredths of a
// percent of the page: the most of cyan, magenta and yellow less the least.
// Black, and cyan, magenta and yellow laid in equal shares (a grey, or the
// black many office programs draw with all four inks), are neutral.
uint32_t ColorDistance(const PageInk& ink);

// A page is colour when its distance from neutral is over the threshold.
bool IsColorPage(const PageInk& ink, uint32_t threshold);

// How many of the first printedPages pages printed are colour, printed page
// i being document page i mod N (copies collated); 0 for an empty document.
uint32_t ColorPagesAmong(const std::vector<bool>& documentPageIsColor, uint32_t printedPages);

}  // namespace pelko
