#include "agent/monitor/page_pricer.h"

#include <gtest/gtest.h>

namespace pelko {
namespace {

SpoolJob Listed(uint32_t id, const std::string& mode, std::optional<bool> printerColor) {
  SpoolJob job;
  job.id = id;
  job.submittedAt = 1000 + id;
  job.user = "anna";
  job.details.colorMode = mode;
  job.details.printerColor = printerColor;
  job.details.copies = 1;
  return job;
}

JobRecord Part(uint32_t id, int32_t pages) {
  JobRecord figures{"Office", static_cast<int32_t>(id), "anna", "doc", pages, 0, {}};
  figures.submittedAt = 1000 + id;
  return figures;
}

struct Priced {
  int32_t cost, color, mono;
  std::string from;
  bool operator==(const Priced&) const = default;
};

Priced PriceOf(PagePricer& pricer, const Tariff& tariff, uint32_t id, int32_t pages) {
  JobRecord figures = Part(id, pages);
  pricer.Price(tariff, &figures);
  return {figures.cost, figures.colorPages, figures.monoPages, figures.colorFrom};
}

TEST(PagePricerTest, TheAskedModeAndThePrinterDecideUntilADocumentIsMeasured) {
  const Tariff tariff{10, 80, 0, {}};
  PagePricer pricer;
  pricer.Learn({Listed(1, "", std::nullopt), Listed(2, "color", true),
                Listed(3, "monochrome", true), Listed(4, "color", false), Listed(5, "", true)});
  // A spooler that tells nothing of colour: mono, as every page was billed before.
  EXPECT_EQ(PriceOf(pricer, tariff, 1, 3), (Priced{30, 0, 3, "request"}));
  EXPECT_EQ(PriceOf(pricer, tariff, 2, 3), (Priced{240, 3, 0, "request"}));
  EXPECT_EQ(PriceOf(pricer, tariff, 3, 3), (Priced{30, 0, 3, "request"}));
  EXPECT_EQ(PriceOf(pricer, tariff, 4, 3), (Priced{30, 0, 3, "printer"}));
  EXPECT_EQ(PriceOf(pricer, tariff, 5, 3), (Priced{240, 3, 0, "request"}));
  EXPECT_FALSE(pricer.WantsMeasure(Listed(3, "monochrome", true)));
  EXPECT_FALSE(pricer.WantsMeasure(Listed(4, "color", false)));
  EXPECT_TRUE(pricer.WantsMeasure(Listed(5, "", true)));
  // A later listing that could not tell the printer's colour (a busy
  // server) leaves a colour printer's job priced and measured as colour.
  pricer.Learn({Listed(5, "", std::nullopt)});
  EXPECT_TRUE(pricer.WantsMeasure(Listed(5, "", std::nullopt)));
  EXPECT_EQ(PriceOf(pricer, tariff, 5, 1), (Priced{80, 1, 0, "request"}));
}

TEST(PagePricerTest, AMeasureMovesThePagesEnteredAndPricesTheRestByTheirPlaceInTheDocument) {
  const Tariff tariff{10, 80, 0, {}};
  PagePricer pricer;
  pricer.Learn({Listed(7, "color", true)});
  // Four pages entered as colour before the measure came.
  EXPECT_EQ(PriceOf(pricer, tariff, 7, 4), (Priced{320, 4, 0, "request"}));
  // A document of 3 pages, colour only on its second, printed twice.
  std::optional<JobRecord> correction = pricer.Measured(tariff, Part(7, 0), {false, true, false});
  ASSERT_TRUE(correction);
  EXPECT_EQ(correction->pages, 0);
  EXPECT_EQ((Priced{correction->cost, correction->colorPages, correction->monoPages,
                    correction->colorFrom}),
            (Priced{-210, -3, 3, "document"}));
  // Pages 5 and 6 are the second copy's pages 2 and 3.
  EXPECT_EQ(PriceOf(pricer, tariff, 7, 2), (Priced{90, 1, 1, "document"}));

  // Measured before any page: nothing to put right.
  pricer.Learn({Listed(8, "", true)});
  EXPECT_FALSE(pricer.Measured(tariff, Part(8, 0), {true}));
  EXPECT_EQ(PriceOf(pricer, tariff, 8, 2), (Priced{160, 2, 0, "document"}));
}

TEST(PagePricerTest, AJobEnteredInPartsCostsWhatItWouldInOnePiece) {
  Tariff tariff{7, 7, 50, {{"a3", 1500}}};
  PagePricer pricer;
  SpoolJob job = Listed(9, "monochrome", true);
  job.details.sides = "two-sided-long-edge";
  job.details.paper = "A3";
  pricer.Learn({job});
  int64_t parts = 0;
  for (int i = 0; i < 5; ++i) parts += PriceOf(pricer, tariff, 9, 1).cost;
  EXPECT_EQ(parts, Cost(tariff, {0, 5, "two-sided-long-edge", "A3"}));
}

}  // namespace
}  // namespace pelko
