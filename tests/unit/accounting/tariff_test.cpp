// The tariff as the agent reads it from the settings and applies it: a
// printer given no new prices bills as it always did, and every new price
// moves the bill by exactly what it says.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "agent/accounting/tariff.h"
#include "agent/config/settings.h"
#include "tests/fakes/fake_registry.h"

namespace pelko {
namespace {

using Factors = std::vector<std::pair<std::string, uint32_t>>;

Tariff Priced(uint32_t mono, uint32_t color, uint32_t discount = 0, Factors factors = {}) {
  return {mono, color, discount, std::move(factors)};
}

// Only Printer1Cost set, as on every machine before: pages * cost, whatever
// the job says of its colour, sides and paper, up to the largest numbers.
TEST(Tariff, TodaysBillIsUnchanged) {
  FakeRegistry registry;
  registry.PutDword(settings::PrinterCost(1), 7);
  const Tariff tariff = ReadTariff(registry, 1);
  EXPECT_EQ(tariff.colorCost, 7u);
  EXPECT_EQ(tariff.duplexDiscountPercent, 0u);
  EXPECT_TRUE(tariff.paperFactors.empty());
  EXPECT_EQ(Cost(tariff, {3, 4, "two-sided-long-edge", "iso_a3_297x420mm"}), 49);
  EXPECT_EQ(Cost(tariff, {0, 1, "", ""}), 7);

  const uint32_t most = std::numeric_limits<uint32_t>::max();
  const uint32_t dearest = 2147483647;  // the most a log's cost per page holds
  const Tariff dear = Priced(dearest, dearest);
  EXPECT_EQ(Cost(dear, {0, most, "", ""}), int64_t{most} * dearest);
  // Past what 64 bits hold: the most a cost can be, never a wrapped one.
  EXPECT_EQ(Cost(dear, {most, most, "", ""}), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(Cost(Priced(1, 1, 0, {{"a0", kMaxPaperFactorThousandths}}), {most, most, "", "A0"}),
            int64_t{most} * 2 * 1000);
  EXPECT_EQ(
      Cost(Priced(most, most, 0, {{"a0", kMaxPaperFactorThousandths}}), {most, most, "", "A0"}),
      std::numeric_limits<int64_t>::max());

  // A printer with nothing set costs nothing, as before.
  EXPECT_EQ(Cost(ReadTariff(registry, 2), {5, 5, "", ""}), 0);
}

TEST(Tariff, ColourAndMonoPagesArePricedApart) {
  FakeRegistry registry;
  registry.PutDword(settings::PrinterCost(1), 5);
  registry.PutDword(settings::PrinterColorCost(1), 30);
  const Tariff tariff = ReadTariff(registry, 1);
  EXPECT_EQ(Cost(tariff, {2, 3, "one-sided", "A4"}), 2 * 30 + 3 * 5);
  // A colour price stored as text reads as absent: the mono price, not 0.
  registry.PutString(settings::PrinterColorCost(1), "30");
  EXPECT_EQ(ReadTariff(registry, 1).colorCost, 5u);
}

TEST(Tariff, TheDiscountIsTakenOffTwoSidedPagesOnly) {
  FakeRegistry registry;
  registry.PutDword(settings::PrinterCost(1), 10);
  registry.PutDword(settings::PrinterDuplexDiscount(1), 20);
  const Tariff tariff = ReadTariff(registry, 1);
  EXPECT_EQ(Cost(tariff, {0, 10, "two-sided-short-edge", ""}), 80);
  EXPECT_EQ(Cost(tariff, {0, 10, "one-sided", ""}), 100);
  EXPECT_EQ(Cost(tariff, {0, 10, "", ""}), 100);
  // Over 100 percent is taken as 100: free, never a credit.
  registry.PutDword(settings::PrinterDuplexDiscount(1), 250);
  EXPECT_EQ(ReadTariff(registry, 1).duplexDiscountPercent, 100u);
  EXPECT_EQ(Cost(ReadTariff(registry, 1), {1, 10, "two-sided-long-edge", ""}), 0);
}

TEST(Tariff, PaperFactorsApplyUnderEveryNameOfThePaper) {
  FakeRegistry registry;
  registry.PutDword(settings::PrinterCost(1), 10);
  registry.PutDword(settings::PrinterColorCost(1), 40);
  registry.PutDword(settings::PrinterDuplexDiscount(1), 10);
  registry.PutString(settings::PrinterPaperFactors(1), "A3=2, Tabloid=1.5,a5=0.5 ,Letter=1.25");
  const Tariff tariff = ReadTariff(registry, 1);
  EXPECT_EQ(tariff.paperFactors,
            (Factors{{"a3", 2000}, {"tabloid", 1500}, {"a5", 500}, {"letter", 1250}}));
  for (const char* a3 : {"A3", "a3", "iso_a3_297x420mm", "ISO_A3_297x420mm", "A3.Transverse"}) {
    EXPECT_EQ(Cost(tariff, {1, 1, "", a3}), 100) << a3;
  }
  for (const char* tabloid : {"Tabloid", "Ledger", "na_ledger_11x17in"}) {
    EXPECT_EQ(Cost(tariff, {0, 2, "", tabloid}), 30) << tabloid;
  }
  EXPECT_EQ(Cost(tariff, {0, 4, "", "na_letter_8.5x11in"}), 50);
  EXPECT_EQ(Cost(tariff, {0, 4, "", "iso_a4_210x297mm"}), 40);
  // Colour, paper and sides together: (2*40 + 1*10) * 2 * 0.9.
  EXPECT_EQ(Cost(tariff, {2, 1, "two-sided-long-edge", "A3"}), 162);
  // A PPD's B5 is JIS's, ISO's is ISOB5.
  EXPECT_EQ(PaperKey("jis_b5_182x257mm"), "b5");
  EXPECT_EQ(PaperKey("iso_b5_176x250mm"), "isob5");
  EXPECT_EQ(FormatPaperFactors(tariff.paperFactors), "a3=2,tabloid=1.5,a5=0.5,letter=1.25");
}

// Half a unit rounds up, once for the whole job: a job entered in parts,
// each charged Cost(so far) - Cost(before), costs what it would in one
// piece, and no part is ever charged less than nothing.
TEST(Tariff, AJobEnteredInPartsCostsWhatTheWholeDoes) {
  const Tariff tariff = Priced(1, 3, 50, {{"a5", 333}});
  EXPECT_EQ(Cost(tariff, {0, 1, "two-sided-long-edge", ""}), 1);    // 0.5
  EXPECT_EQ(Cost(tariff, {0, 3, "two-sided-long-edge", "A5"}), 0);  // 0.4995
  for (const char* paper : {"", "A5"}) {
    PrintedPages whole{7, 11, "two-sided-long-edge", paper};
    int64_t charged = 0;
    int64_t before = 0;
    for (uint32_t color = 0, mono = 0; color < whole.color || mono < whole.mono;) {
      if (mono < whole.mono) ++mono;
      if ((mono % 3 == 0 || mono == whole.mono) && color < whole.color) ++color;
      const int64_t sofar = Cost(tariff, {color, mono, whole.sides, whole.paper});
      EXPECT_GE(sofar, before) << paper;
      charged += sofar - before;
      before = sofar;
    }
    EXPECT_EQ(charged, Cost(tariff, whole)) << paper;
  }
}

TEST(Tariff, ABadFactorTextIsToldAndCountsEveryPaperOne) {
  Factors factors;
  std::string error;
  EXPECT_TRUE(ParsePaperFactors("  ", &factors, &error));
  EXPECT_TRUE(factors.empty());
  // Ledger and Tabloid are one paper: the same factor twice is no slip.
  EXPECT_TRUE(ParsePaperFactors("Ledger=2,Tabloid=2", &factors, &error));
  EXPECT_EQ(factors, (Factors{{"tabloid", 2000}}));
  struct Bad {
    const char* text;
    const char* said;
  };
  for (const Bad& bad :
       {Bad{"A3", "no PAPER=FACTOR"}, Bad{"A3=2,,A5=1", "empty item"}, Bad{"A3=2,", "empty item"},
        Bad{"=2", "no paper name"}, Bad{"A 3=2", "no paper name"}, Bad{"A3=two", "no factor"},
        Bad{"A3=1,5", "no PAPER=FACTOR"}, Bad{"A3=-1", "no factor"}, Bad{"A3=0.3333", "no factor"},
        Bad{"A3=2.", "no factor"}, Bad{"A3=1001", "no factor"}, Bad{"A5=0", "free"},
        Bad{"Ledger=2,Tabloid=3", "two factors"}}) {
    factors = {{"left", 1}};
    error.clear();
    EXPECT_FALSE(ParsePaperFactors(bad.text, &factors, &error)) << bad.text;
    EXPECT_TRUE(factors.empty()) << bad.text;
    EXPECT_NE(error.find(bad.said), std::string::npos) << bad.text << ": " << error;
  }
  FakeRegistry registry;
  registry.PutDword(settings::PrinterCost(1), 10);
  registry.PutString(settings::PrinterPaperFactors(1), "A3=2;A5=0.5");
  EXPECT_EQ(Cost(ReadTariff(registry, 1), {0, 1, "", "A3"}), 10);
}

}  // namespace
}  // namespace pelko
