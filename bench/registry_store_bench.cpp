// What the agent pays for one setting on Linux: open the key, read a DWORD,
// close, in a file-backed store of a dozen values (each pass of a printer
// thread reads several).
#include <benchmark/benchmark.h>

#include <string>

#include "agent/platform/posix/registry_store/registry_store.h"
#include "bench/log_bench_env.h"

namespace pelko {
namespace {

void BM_ReadOneSetting(benchmark::State& state) {
  BenchFolder folder;
  {
    FileRegistryStore store(folder.path + "/store");
    RegKey key = nullptr;
    store.CreateKey(RootKey::kLocalMachine, "SOFTWARE\\Pelko", kKeyWrite, &key);
    const uint8_t number[4] = {1, 1, 1, 1};
    for (int i = 0; i < 12; ++i) {
      store.SetValue(key, "Value" + std::to_string(i), kRegDword, number, 4);
    }
    const std::string path = "/srv/pelko/with/a/longer/path";
    store.SetValue(key, "Path", kRegSz, reinterpret_cast<const uint8_t*>(path.c_str()),
                   static_cast<uint32_t>(path.size() + 1));
    store.CloseKey(key);

    for (auto _ : state) {
      RegKey read = nullptr;
      store.OpenKey(RootKey::kLocalMachine, "Software\\Pelko", kKeyRead, &read);
      uint8_t value[4];
      uint32_t size = 4;
      store.QueryValue(read, "Value11", nullptr, value, &size);
      store.CloseKey(read);
      benchmark::DoNotOptimize(value);
    }
  }
}
BENCHMARK(BM_ReadOneSetting);

}  // namespace
}  // namespace pelko

BENCHMARK_MAIN();
