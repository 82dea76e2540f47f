// What measuring a job's colour costs: the real ink meter over tests/colour's
// corpus, held in a private cupsd by bench/ink_meter.sh, which lists the jobs
// in PELKO_INK_JOBS ("ID PATH COLOURS" a line). Reports the milliseconds per
// page of each document measured (median and 95th percentile) and how many
// pages were judged as the corpus says.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "agent/accounting/page_color.h"
#include "agent/platform/posix/cups/ink_coverage.h"

namespace pelko {
namespace {

struct Job {
  uint32_t id;
  std::string path, colours;
};

std::vector<Job> Jobs() {
  std::vector<Job> jobs;
  const char* list = std::getenv("PELKO_INK_JOBS");
  std::ifstream in(list != nullptr ? list : "");
  Job job;
  while (in >> job.id >> job.path >> job.colours) jobs.push_back(job);
  return jobs;
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

void BM_MeasureCorpus(benchmark::State& state) {
  const std::vector<Job> jobs = Jobs();
  if (jobs.empty()) {
    state.SkipWithError("no jobs: run bench/ink_meter.sh");
    return;
  }
  InkLimits limits;
  limits.folder = std::string(std::getenv("PELKO_INK_FOLDER"));
  const auto meter = NewCupsInkMeter(limits);
  std::vector<double> msPerPage;
  double pages = 0, right = 0;
  for (auto _ : state) {
    for (const Job& job : jobs) {
      std::vector<PageInk> ink;
      const auto start = std::chrono::steady_clock::now();
      const InkStatus status = meter->Measure("Office", job.id, &ink);
      const std::chrono::duration<double, std::milli> took =
          std::chrono::steady_clock::now() - start;
      pages += static_cast<double>(job.colours.size());
      if (status != InkStatus::kOk) continue;
      msPerPage.push_back(took.count() / static_cast<double>(std::max<std::size_t>(ink.size(), 1)));
      for (std::size_t i = 0; i < ink.size() && i < job.colours.size(); ++i) {
        right += IsColorPage(ink[i], kDefaultColorThreshold) == (job.colours[i] == '1');
      }
    }
  }
  state.counters["ms_per_page_median"] = Percentile(msPerPage, 0.5);
  state.counters["ms_per_page_p95"] = Percentile(msPerPage, 0.95);
  state.counters["pages"] = pages;
  state.counters["pages_right"] = right;
}
BENCHMARK(BM_MeasureCorpus)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pelko

BENCHMARK_MAIN();
