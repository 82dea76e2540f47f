// The work of one look at an idle queue, and of one counter fetch with a
// full ring of samples.
//
//   PELKO_BENCH_PRINTER=Office build/native/bin/monitor_look_bench
//
// The look runs the printer thread's poll on the platform's real spooler (on
// Linux the CUPS server of CUPS_SERVER; scripts/lib/cups-env.sh makes one);
// without PELKO_BENCH_PRINTER it is skipped. bench/monitor_idle.sh measures
// the whole agent, wake-ups included.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "agent/logs/log_locks.h"
#include "agent/platform/pdh/perf_counter.h"
#include "agent/monitor/printer_thread.h"
#include "agent/platform/env.h"

namespace pelko {
namespace {

void BM_LookAtAnIdleQueue(benchmark::State& state) {
  const char* printer = std::getenv("PELKO_BENCH_PRINTER");
  if (printer == nullptr) {
    state.SkipWithError("set PELKO_BENCH_PRINTER to an idle queue");
    return;
  }
  LogLocks locks;
  PrinterThread thread(PlatformEnv(), locks);
  thread.SetPrinterName(printer);
  for (auto _ : state) thread.Look();
}
BENCHMARK(BM_LookAtAnIdleQueue)->MinTime(3.0);

// A counter that always has a value, with statistics computed in place.
class SteadyPerfData : public PerfData {
 public:
  PdhStatus OpenQuery(const char*, uintptr_t, PdhQuery* query) override {
    *query = this;
    return 0;
  }
  PdhStatus AddCounter(PdhQuery, const std::string&, uintptr_t, PdhCounter* counter) override {
    *counter = this;
    return 0;
  }
  PdhStatus CollectQueryData(PdhQuery) override {
    ++value;
    return 0;
  }
  PdhStatus GetFormattedCounterValue(PdhCounter, uint32_t, uint32_t*,
                                     PdhFmtCounterValue* out) override {
    out->CStatus = 0;
    out->doubleValue = static_cast<double>(value);
    return 0;
  }
  PdhStatus GetRawCounterValue(PdhCounter, uint32_t*, PdhRawCounter* out) override {
    *out = PdhRawCounter{};
    out->FirstValue = value;
    return 0;
  }
  PdhStatus ComputeCounterStatistics(PdhCounter, uint32_t format, uint32_t first, uint32_t count,
                                     const PdhRawCounter* raw, PdhStatistics* statistics) override {
    double low = 1e300, high = -1e300, sum = 0;
    for (uint32_t k = 0; k < count; ++k) {
      const double v = static_cast<double>(raw[(first + k) % count].FirstValue);
      low = v < low ? v : low;
      high = v > high ? v : high;
      sum += v;
    }
    statistics->dwFormat = format;
    statistics->count = count;
    statistics->min.doubleValue = low;
    statistics->max.doubleValue = high;
    statistics->mean.doubleValue = sum / count;
    return 0;
  }
  PdhStatus RemoveCounter(PdhCounter) override { return 0; }
  PdhStatus CloseQuery(PdhQuery) override { return 0; }

 private:
  int64_t value = 0;
};

void BM_CollectWithAFullRing(benchmark::State& state) {
  SteadyPerfData perf;
  PerfCounterSet set(&perf);
  set.AddCounter("\\\\PC1\\Print Queue(HP)\\Total Pages Printed");
  set.Open();
  for (uint32_t i = 0; i < RawSampleCapacity; ++i) set.Collect();
  for (auto _ : state) set.Collect();
  state.counters["window"] = set.CounterAt(0)->statistics.count;
}
BENCHMARK(BM_CollectWithAFullRing);

}  // namespace
}  // namespace pelko

BENCHMARK_MAIN();
