// Prices a job's pages as they were printed: which of them are colour, and
// what they come to under the printer's tariff. A job's pages reach the log
// in parts, one pass at a time; each part is priced as the difference of
// the job's price after it and before it, so that a job costs what it
// would in one piece, and a measure of its document that comes after some
// parts were entered corrects them with a part of no pages.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/accounting/tariff.h"
#include "agent/logs/record_job.h"
#include "agent/platform/spooler.h"

namespace pelko {

class PagePricer {
 public:
  // Jobs kept at most; beyond it those first seen longest ago go.
  static constexpr std::size_t kMaxJobs = 4096;

  // Takes in the details of the jobs listed.
  void Learn(const std::vector<SpoolJob>& jobs);
  // The job was entered with `pages` before this run: its next part is
  // priced after them.
  void Entered(uint32_t id, int64_t submittedAt, uint32_t pages);
  // Whether the job's document is worth measuring now: the printer may print
  // colour, the job did not ask for monochrome, and its documents are in.
  bool WantsMeasure(const SpoolJob& job) const;

  // Fills figures' cost, colour and mono pages and details for `pages`
  // more pages of the job (figures.jobId, figures.submittedAt).
  void Price(const Tariff& tariff, JobRecord* figures);
  // Which pages of the job's document show colour. Returns the figures,
  // of no pages, that move the pages entered so far to what the measure
  // says, or none where nothing moves.
  std::optional<JobRecord> Measured(const Tariff& tariff, const JobRecord& like,
                                    std::vector<bool> pageColors);
  // The user and document the job was last listed with.
  void NamesOf(uint32_t id, int64_t submittedAt, std::string* user, std::string* document);
  // The measure could not be had: the job's asked mode decides for good.
  void NotMeasured(uint32_t id, int64_t submittedAt);

 private:
  struct Job {
    JobDetails details;
    std::string user, document;
    std::optional<std::vector<bool>> pageColors;
    uint32_t priced = 0;
    uint64_t order = 0;
  };
  using Key = std::pair<uint32_t, int64_t>;
  Job& JobOf(uint32_t id, int64_t submittedAt);
  // The colour pages among the first `pages` printed, and how they were told.
  static uint32_t ColorPages(const Job& job, uint32_t pages, const char** from);
  static int64_t CostOf(const Tariff& tariff, const Job& job, uint32_t pages);

  std::map<Key, Job> jobs;
  uint64_t seen = 0;
};

}  // namespace pelko
