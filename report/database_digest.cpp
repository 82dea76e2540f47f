#include "report/database_digest.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "agent/util/coding.h"
#include "report/database_source.h"

namespace pelko::report {

namespace {

// Sum rows read to a statement at most, so that a site of many servers is
// never held in memory at once.
constexpr long kRowsAtOnce = 50000;

constexpr const char* kSumColumns =
    "SELECT server_name, kind, period, job_date, name, jobs, pages, cost, color_pages, mono_pages, "
    "untold_pages, told_jobs FROM pelko_job_sums WHERE kind = ? AND period >= ? AND period <= ?";

// The rows' hashes are added rather than chained: the database may give
// them in any order.
struct Tally {
  uint64_t rows = 0, hashes = 0;
  void Add(const SqlRow& row) {
    std::string joined;
    for (const std::string& field : row) (joined += field) += '\x1f';
    hashes += Fnv1a64(joined);
    ++rows;
  }
};

}  // namespace

std::string DatabaseDigest(SqlConnection& connection) {
  const int version = SchemaVersion(connection);
  std::vector<SqlRow> periods;
  bool ok =
      version != 0 && connection.Execute(
                          "SELECT kind, period, COUNT(*) FROM pelko_job_sums GROUP BY kind, period "
                          "ORDER BY kind, period",
                          {}, &periods);
  Tally tally;
  // Runs of periods of one kind, each run up to kRowsAtOnce rows.
  for (std::size_t first = 0; ok && first < periods.size();) {
    if (periods[first].size() != 3) return {};
    std::size_t last = first;
    long rows = std::atol(periods[first][2].c_str());
    while (last + 1 < periods.size() && periods[last + 1].size() == 3 &&
           periods[last + 1][0] == periods[first][0] &&
           rows + std::atol(periods[last + 1][2].c_str()) <= kRowsAtOnce) {
      rows += std::atol(periods[++last][2].c_str());
    }
    std::vector<SqlRow> sums;
    ok = connection.Execute(kSumColumns,
                            {SqlParam::Text(periods[first][0]), SqlParam::Text(periods[first][1]),
                             SqlParam::Text(periods[last][1])},
                            &sums);
    for (const SqlRow& row : sums) tally.Add(row);
    first = last + 1;
  }
  connection.Rollback();
  if (!ok) return {};
  char digest[64];
  std::snprintf(digest, sizeof digest, "v%d %" PRIu64 " %016" PRIx64, version, tally.rows,
                tally.hashes);
  return digest;
}

}  // namespace pelko::report
