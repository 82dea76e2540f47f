// The per-user and per-printer summary as a plain-text table for the
// terminal, for the whole span or each day or month of it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "report/columns.h"
#include "report/csv_dialect.h"
#include "report/report.h"

namespace pelko::report {

enum class Grouping { kNone, kDay, kMonth };

class SummaryBuilder {
 public:
  explicit SummaryBuilder(Grouping grouping) : grouping(grouping) {}
  void Add(const Job& job);
  // The figures of many jobs of date's period at once: all of them, or
  // those of one group of kSummaryGroups (columns.h: a user or printer; the
  // database's sums; figures.name names it).
  void AddAll(const std::string& date, const Subtotal& figures);
  void AddGroup(std::size_t group, const std::string& date, const Subtotal& figures);
  Grouping Groups() const { return grouping; }
  // The tables; names converted to encoding, columns aligned by characters.
  // bars: each user's and printer's cost (or pages, where nothing cost
  // anything) as a bar beside its row, for a person at a terminal.
  std::string Table(const Report& report, TextEncoding encoding, bool bars = false) const;

 private:
  using Sum = Subtotal;
  using Sums = std::map<std::string, Sum>;
  struct Period {
    std::array<Sums, kSummaryGroups.size()> groups;  // as kSummaryGroups
    Sum all;
  };
  std::string PeriodOf(const std::string& date) const;

  Grouping grouping;
  std::map<std::string, Period> periods;  // "" for the whole span
};

// The width of UTF-8 text on a terminal: its characters.
std::size_t DisplayWidth(const std::string& utf8);

}  // namespace pelko::report
