// Reading the entries of a log at the read cap (64 MiB) that an attacker
// filled with entries never closed, against a well-formed log of that size:
// both must cost time in proportion to the size.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "agent/logs/log_format.h"
#include "agent/platform/files.h"

namespace {

const char kEntry[] =
    "<entry> <date>2026/12/06</date><time>09:05:03</time> <id>7</id><user>paul</user> "
    "<printer>HP</printer><doc>Report.doc</doc> <pages>3</pages> <cost>15</cost></entry>";

std::string Log(const std::string& piece) {
  std::string text(pelko::kLogProlog);
  text += "<log> <type>HP</type> <date>2026/12/06</date>";
  text.reserve(pelko::kMaxTextFileBytes + piece.size());
  while (text.size() + piece.size() <= pelko::kMaxTextFileBytes) text += piece;
  return text;
}

void Read(benchmark::State& state, const std::string& text) {
  std::vector<pelko::LogEntry> entries;
  for (auto _ : state) {
    pelko::ReadLogEntries(text, &entries);
    benchmark::DoNotOptimize(entries.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["entries"] = static_cast<double>(entries.size());
}

void BM_Read64MiBHostileLog(benchmark::State& state) {
  static const std::string text = Log("<entry> <date><");
  Read(state, text);
}
BENCHMARK(BM_Read64MiBHostileLog)->Unit(benchmark::kMillisecond);

void BM_Read64MiBWellFormedLog(benchmark::State& state) {
  static const std::string text = Log(kEntry);
  Read(state, text);
}
BENCHMARK(BM_Read64MiBWellFormedLog)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
