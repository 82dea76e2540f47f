#include "agent/platform/devmode/job_details.h"

#include <cstddef>

namespace pelko {

namespace {

// Common DMPAPER_ codes, named as PostScript printer descriptions name them
// (the names the tariff's PaperFactors use), with their sizes in hundredths
// of a millimetre as the code has them.
struct Paper {
  int16_t code;
  const char* name;
  uint32_t width;
  uint32_t length;
};
constexpr Paper kPapers[] = {
    {1, "Letter", 21590, 27940},    {2, "Letter", 21590, 27940},  // LETTERSMALL
    {3, "Tabloid", 27940, 43180},   {4, "Ledger", 43180, 27940},
    {5, "Legal", 21590, 35560},     {6, "Statement", 13970, 21590},
    {7, "Executive", 18415, 26670}, {8, "A3", 29700, 42000},
    {9, "A4", 21000, 29700},        {10, "A4", 21000, 29700},  // A4SMALL
    {11, "A5", 14800, 21000},       {12, "B4", 25700, 36400},  // JIS, as Windows's
    {13, "B5", 18200, 25700},       {14, "Folio", 21590, 33020},
    {17, "Tabloid", 27940, 43180},  // 11x17
    {20, "Env10", 10478, 24130},    {27, "EnvDL", 11000, 22000},
    {28, "EnvC5", 16200, 22900},    {70, "A6", 10500, 14800},
};

const Paper* KnownPaper(int16_t code) {
  for (const Paper& paper : kPapers) {
    if (paper.code == code) return &paper;
  }
  return nullptr;
}

void ReadDevMode(const DevModeFields& mode, JobDetails* details) {
  const auto has = [&](uint32_t bit) { return (mode.dmFields & bit) != 0; };
  if (has(kDmCopies) && mode.dmCopies > 0) details->copies = static_cast<uint32_t>(mode.dmCopies);
  if (has(kDmColor)) {
    if (mode.dmColor == kDmColorColor) details->colorMode = "color";
    if (mode.dmColor == kDmColorMonochrome) details->colorMode = "monochrome";
  }
  if (has(kDmDuplex)) {
    if (mode.dmDuplex == kDmDupSimplex) details->sides = "one-sided";
    if (mode.dmDuplex == kDmDupVertical) details->sides = "two-sided-long-edge";
    if (mode.dmDuplex == kDmDupHorizontal) details->sides = "two-sided-short-edge";
  }
  // The table's name for a code it knows, so that one paper has one name
  // whatever the driver calls its form; the form's name for the others
  // (DMPAPER_USER, a driver's own).
  const Paper* paper = has(kDmPaperSize) ? KnownPaper(mode.dmPaperSize) : nullptr;
  if (paper != nullptr) {
    details->paper = paper->name;
    details->paperWidth = paper->width;
    details->paperLength = paper->length;
  } else if (has(kDmFormName)) {
    details->paper = mode.dmFormName;
  }
  // The exact size, where given, overrides the code's.
  if (has(kDmPaperWidth) && mode.dmPaperWidth > 0) {
    details->paperWidth = static_cast<uint32_t>(mode.dmPaperWidth) * 10;
  }
  if (has(kDmPaperLength) && mode.dmPaperLength > 0) {
    details->paperLength = static_cast<uint32_t>(mode.dmPaperLength) * 10;
  }
}

}  // namespace

JobDetails DetailsOfJob(const JobInfo2Fields& job) {
  JobDetails details;
  if (job.pDevMode) ReadDevMode(*job.pDevMode, &details);
  const std::size_t name = job.pMachineName.find_first_not_of('\\');
  if (name != std::string::npos) details.client = job.pMachineName.substr(name);
  details.sizeBytes = job.Size;
  return details;
}

}  // namespace pelko
