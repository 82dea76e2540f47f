// RecordJob on a day's file of 1 to 10,000 entries, against the floor that
// any whole-file rewrite pays: read the file whole, write a file of the new
// size beside it and put it in place.
#include <benchmark/benchmark.h>

#include <chrono>

#include "agent/logs/log_format.h"
#include "agent/logs/log_store.h"
#include "agent/logs/record_job.h"
#include "bench/log_bench_env.h"

namespace pelko {
namespace {

using Clock = std::chrono::steady_clock;

std::string DayFile(int entries, const LocalTime& today) {
  LogStore store(Env{});
  std::string text = DailyLogHead("\\\\SRV\\LaserJet", today);
  for (int id = entries; id >= 1; --id) {
    AppendJobEntry(text, {FormatLogDate(today), "09:05:03", std::to_string(id), "someone",
                          "\\\\SRV\\LaserJet", "Quarterly report final (2).docx", "3", "15"});
  }
  AppendTotalEntry(text, 15 * entries);
  text += kLogFooter;
  return text;
}

// newJob: a job not in the file yet, put in front; otherwise the newest job
// seen again by a pass with one more page.
void Run(benchmark::State& state, bool newJob) {
  BenchFolder folder;
  const int entries = static_cast<int>(state.range(0));
  const LocalTime today = folder.env.clock->Now();
  const std::string path = LogStore(folder.env).ComposePath("LaserJet", "xml", today);
  const std::string floorPath = folder.logs + "/Floor.xml";
  const std::string base = DayFile(entries, today);
  folder.env.files->ReplaceText(path, base);
  LogLocks locks;
  Waiter pause = [](uint32_t ms) { PlatformClock().Sleep(ms); };

  double recordSeconds = 0, floorSeconds = 0;
  int32_t nextId = entries + 1;
  for (auto _ : state) {
    if (newJob) {
      state.PauseTiming();
      folder.env.files->ReplaceText(path, base);
      state.ResumeTiming();
    }
    const auto t0 = Clock::now();
    RecordJob(folder.env, locks, pause,
              {"\\\\SRV\\LaserJet", newJob ? nextId : entries, "anna", "Budget.xls", 1, 5,
               folder.env.clock->Now()});
    const auto t1 = Clock::now();
    std::string text;
    folder.env.files->ReadText(path, &text);
    folder.env.files->ReplaceText(floorPath, text);
    const auto t2 = Clock::now();
    const double record = std::chrono::duration<double>(t1 - t0).count();
    recordSeconds += record;
    floorSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(record);
  }
  state.counters["bytes"] = static_cast<double>(base.size());
  state.counters["floor_us"] = floorSeconds * 1e6 / static_cast<double>(state.iterations());
  state.counters["ratio"] = recordSeconds / floorSeconds;
}

void BM_RecordJobUpdate(benchmark::State& state) { Run(state, false); }
void BM_RecordJobNewEntry(benchmark::State& state) { Run(state, true); }

BENCHMARK(BM_RecordJobUpdate)
    ->Arg(1)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordJobNewEntry)
    ->Arg(1)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace pelko

BENCHMARK_MAIN();
