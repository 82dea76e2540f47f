// BuildGlobalLog over 49 printers x 30 days x 200 entries, against reading
// those bytes and writing the result, with the build's peak heap use.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <new>
#include <vector>

#include "agent/logs/global_log.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"
#include "bench/log_bench_env.h"

// Every heap allocation of the program, counted.
namespace {
std::atomic<int64_t> heapNow{0};
std::atomic<int64_t> heapPeak{0};

void* Allocate(std::size_t size) {
  void* block = std::malloc(size + 16);
  if (block == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(block) = size;
  const int64_t now = heapNow += static_cast<int64_t>(size);
  int64_t peak = heapPeak.load();
  while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
  }
  return static_cast<char*>(block) + 16;
}

void Free(void* pointer) {
  if (pointer == nullptr) return;
  void* block = static_cast<char*>(pointer) - 16;
  heapNow -= static_cast<int64_t>(*static_cast<std::size_t*>(block));
  std::free(block);
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* pointer) noexcept { Free(pointer); }
void operator delete[](void* pointer) noexcept { Free(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { Free(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { Free(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { Free(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { Free(pointer); }

namespace pelko {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPrinters = 49, kDays = 30, kEntries = 200;

void BM_BuildGlobalLog(benchmark::State& state) {
  BenchFolder folder;
  std::vector<std::string> paths;
  for (int p = 1; p <= kPrinters; ++p) {
    for (int d = 1; d <= kDays; ++d) {
      const LocalTime day{2026, 11, d, 0, 0, 0, 0};
      const std::string printer = "\\\\SRV\\Printer" + std::to_string(p);
      std::string text = DailyLogHead(printer, day);
      for (int id = kEntries; id >= 1; --id) {
        AppendJobEntry(text, {FormatLogDate(day), "09:05:03", std::to_string(id), "someone",
                              printer, "Quarterly report final (2).docx", "3", "15"});
      }
      AppendTotalEntry(text, 15 * kEntries);
      text += kLogFooter;
      paths.push_back(folder.logs + "/Printer" + std::to_string(p) + "_" + FormatFileDate(day) +
                      ".xml");
      std::ofstream(paths.back(), std::ios::binary) << text;
    }
  }
  LogLocks locks;
  Waiter pause = [](uint32_t ms) { PlatformClock().Sleep(ms); };
  RegistryStringValue globalPath(folder.registry, "Software\\Pelko\\Path");
  const std::string globalLog = LogStore(folder.env).ComposePath("GlobalLog", "xml");
  const std::string floorPath = folder.logs + "/Floor.out";

  double buildSeconds = 0, floorSeconds = 0;
  int64_t peak = 0;
  std::size_t size = 0;
  for (auto _ : state) {
    const int64_t before = heapNow.load();
    heapPeak = before;
    const auto t0 = Clock::now();
    BuildGlobalLog(folder.env, locks, pause, globalPath);
    const auto t1 = Clock::now();
    peak = std::max(peak, heapPeak.load() - before);
    {
      std::unique_ptr<ReplacingWriter> writer;
      folder.env.files->BeginReplace(floorPath, &writer);
      std::string text;
      for (const std::string& path : paths) {
        folder.env.files->ReadText(path, &text);
        writer->Append(text);
      }
      writer->Commit();
    }
    const auto t2 = Clock::now();
    buildSeconds += std::chrono::duration<double>(t1 - t0).count();
    floorSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    std::string text;
    folder.env.files->ReadText(globalLog, &text);
    size = text.size();
  }
  state.counters["global_MB"] = static_cast<double>(size) / 1e6;
  state.counters["floor_ms"] = floorSeconds * 1e3 / static_cast<double>(state.iterations());
  state.counters["ratio"] = buildSeconds / floorSeconds;
  state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["peak_per_size"] = static_cast<double>(peak) / static_cast<double>(size);
}

BENCHMARK(BM_BuildGlobalLog)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pelko

BENCHMARK_MAIN();
