#include "agent/platform/devmode/job_details.h"

#include <gtest/gtest.h>

namespace pelko {
namespace {

DevModeFields Mode(uint32_t fields) {
  DevModeFields mode;
  mode.dmFields = fields;
  return mode;
}

TEST(JobDetailsOfDevMode, ReadsWhatTheJobAskedFor) {
  DevModeFields mode = Mode(kDmCopies | kDmColor | kDmDuplex | kDmPaperSize | kDmFormName);
  mode.dmCopies = 3;
  mode.dmColor = kDmColorMonochrome;
  mode.dmDuplex = kDmDupVertical;
  mode.dmPaperSize = 9;
  mode.dmFormName = "A4 (driver's own)";
  JobDetails expected;
  expected.copies = 3;
  expected.colorMode = "monochrome";
  expected.sides = "two-sided-long-edge";
  expected.paper = "A4";
  expected.paperWidth = 21000;
  expected.paperLength = 29700;
  expected.client = "PC-12";
  expected.sizeBytes = 5000000000;
  EXPECT_EQ(DetailsOfJob({mode, "\\\\PC-12", 5000000000}), expected);

  mode.dmColor = kDmColorColor;
  mode.dmDuplex = kDmDupHorizontal;
  mode.dmPaperSize = 4;
  const JobDetails ledger = DetailsOfJob({mode, "PC-12", 0});
  EXPECT_EQ(ledger.colorMode, "color");
  EXPECT_EQ(ledger.sides, "two-sided-short-edge");
  EXPECT_EQ(ledger.paper + " " + std::to_string(ledger.paperWidth) + "x" +
                std::to_string(ledger.paperLength),
            "Ledger 43180x27940");
  EXPECT_EQ(ledger.client, "PC-12") << "a name without backslashes stays";
  mode.dmDuplex = kDmDupSimplex;
  EXPECT_EQ(DetailsOfJob({mode, "", 0}).sides, "one-sided");
}

// A value whose dmFields bit is not set is the driver's leftover, not the
// job's request; nor is a value outside the codes.
TEST(JobDetailsOfDevMode, TellsOnlyWhatItsFieldsVouchFor) {
  DevModeFields mode;
  mode.dmCopies = 4;
  mode.dmColor = kDmColorColor;
  mode.dmDuplex = kDmDupVertical;
  mode.dmPaperSize = 9;
  mode.dmPaperWidth = 2100;
  mode.dmPaperLength = 2970;
  mode.dmFormName = "A4";
  EXPECT_EQ(DetailsOfJob({mode, "", 0}), JobDetails{});
  EXPECT_EQ(DetailsOfJob({std::nullopt, "\\\\", 0}), JobDetails{}) << "no DEVMODE, no name";

  mode = Mode(kDmCopies | kDmColor | kDmDuplex);
  mode.dmCopies = -2;
  mode.dmColor = 3;
  mode.dmDuplex = 7;
  EXPECT_EQ(DetailsOfJob({mode, "", 0}), JobDetails{});
}

TEST(JobDetailsOfDevMode, PaperFromTheCodeTheFormOrTheExactSize) {
  DevModeFields mode = Mode(kDmPaperSize | kDmFormName);
  mode.dmPaperSize = 256;  // DMPAPER_USER
  mode.dmFormName = "Receipt 80mm";
  JobDetails custom = DetailsOfJob({mode, "", 0});
  EXPECT_EQ(custom.paper, "Receipt 80mm") << "a code not in the table: the form's name";
  EXPECT_EQ(custom.paperWidth + custom.paperLength, 0u);

  // The exact size, in tenths of a millimetre, overrides the code's.
  mode = Mode(kDmPaperSize | kDmPaperWidth | kDmPaperLength);
  mode.dmPaperSize = 1;
  mode.dmPaperWidth = 2100;
  mode.dmPaperLength = 1480;
  custom = DetailsOfJob({mode, "", 0});
  EXPECT_EQ(custom.paper + " " + std::to_string(custom.paperWidth) + "x" +
                std::to_string(custom.paperLength),
            "Letter 21000x14800");

  struct Named {
    int16_t code;
    const char* paper;
    uint32_t width, length;
  };
  for (const Named& named : {Named{5, "Legal", 21590, 35560}, Named{3, "Tabloid", 27940, 43180},
                             Named{17, "Tabloid", 27940, 43180}, Named{8, "A3", 29700, 42000},
                             Named{11, "A5", 14800, 21000}, Named{12, "B4", 25700, 36400},
                             Named{13, "B5", 18200, 25700}, Named{7, "Executive", 18415, 26670}}) {
    mode = Mode(kDmPaperSize);
    mode.dmPaperSize = named.code;
    const JobDetails details = DetailsOfJob({mode, "", 0});
    EXPECT_EQ(details.paper, named.paper) << named.code;
    EXPECT_EQ(details.paperWidth, named.width) << named.code;
    EXPECT_EQ(details.paperLength, named.length) << named.code;
  }
}

}  // namespace
}  // namespace pelko
