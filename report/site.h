// The report site (pelkoreport --site): static pages for the office's own
// web server, made from one pass over the jobs of the logs or of the
// central database. index.html shows this month, the last 12 months and
// the year; a page per year, month, printer and user, each with the CSV of
// its main table beside it, all linked to each other (docs/report.md, "The
// report site").
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/config/cost_unit.h"
#include "report/csv_dialect.h"
#include "report/report.h"
#include "report/site_files.h"

namespace pelko::report {

struct SiteSettings {
  std::string month;                                   // this month, YYYYMM: the index's last month
  TextEncoding encoding = TextEncoding::kWindows1252;  // of the jobs' names
  CostUnit costUnit;
  CsvDialect dialect;  // of the CSV files; the pages are UTF-8
  bool site = false;   // every server's jobs, from the central database
};

class SiteBuilder {
 public:
  explicit SiteBuilder(SiteSettings settings);
  // One job of the source, in any order.
  void Add(const Job& job);
  // Every page and its CSV, one at a time, to publisher (not finished).
  void Publish(SitePublisher& publisher);

 private:
  using Builders = std::map<std::string, std::unique_ptr<ReportBuilder>, std::less<>>;
  ReportBuilder& Of(Builders& builders, const std::string& key, std::string_view from,
                    std::string_view to);

  SiteSettings settings;
  std::string firstMonth;  // of the index's twelve
  std::unique_ptr<ReportBuilder> index;
  Builders years, months, printers, users;
};

}  // namespace pelko::report
