// Eight threads record jobs of \\SRV1\HP .. \\SRV8\HP, which share the
// daily file HP_<date>.xml, while another thread rebuilds the global log in
// a loop. No entry and no page may be lost.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "agent/files/file_finder.h"
#include "agent/logs/global_log.h"
#include "agent/logs/log_format.h"
#include "agent/logs/record_job.h"
#include "tests/fakes/fake_registry.h"
#include "tests/lib/log_test_env.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace pelko;

namespace {

constexpr int kThreads = 8;
constexpr int kJobs = 60;  // per thread; every job is recorded in two passes

bool WellFormed(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return true;
#else
  return std::system(("xmllint --noout '" + path + "'").c_str()) == 0;
#endif
}

}  // namespace

int main() {
  const std::string folder = MakeLogsFolder("pelko-threads-");
  RealLogEnv real(folder);
  FakeRegistry& registry = real.registry;
  Env& env = real.env;
  LogLocks& locks = real.locks;
  const Waiter& pause = real.pause;
  const char sep = env.files->Separator();

  std::atomic<int> running{kThreads};
  std::vector<std::thread> printers;
  for (int t = 1; t <= kThreads; ++t) {
    printers.emplace_back([&, t] {
      const std::string printer = "\\\\SRV" + std::to_string(t) + "\\HP";
      const std::string user = "u" + std::to_string(t);
      for (int j = 0; j < kJobs; ++j) {
        const int id = t * 1000 + j;
        RecordJob(env, locks, pause, {printer, id, user, "doc", 2, 6, env.clock->Now()});
        // The same job seen again by a later pass, its counter risen by one.
        if (j > 0) {
          RecordJob(env, locks, pause, {printer, id - 1, user, "doc", 1, 3, env.clock->Now()});
        }
      }
      RecordJob(env, locks, pause,
                {printer, t * 1000 + kJobs - 1, user, "doc", 1, 3, env.clock->Now()});
      --running;
    });
  }
  int builds = 0;
  std::thread builder([&] {
    RegistryStringValue globalPath(registry, "Software\\Pelko\\Path");
    while (running > 0) {
      BuildGlobalLog(env, locks, pause, globalPath);
      ++builds;
    }
    BuildGlobalLog(env, locks, pause, globalPath);
  });
  for (auto& p : printers) p.join();
  builder.join();

  int failures = 0;
  FileFinder finder(*env.files);
  finder.SetRoot(folder + sep + "Logs", false);
  finder.AddFiles("*.xml", true, false);
  std::string daily, global;
  for (const FoundFile& f : finder.Files()) {
    if (!WellFormed(f.path)) {
      std::printf("%s is not well-formed\n", f.path.c_str());
      ++failures;
    }
    std::string text;
    env.files->ReadText(f.path, &text);
    (f.path.find("GlobalLog_") != std::string::npos ? global : daily) = text;
  }
  std::vector<LogEntry> entries;
  const std::size_t tail = ReadLogEntries(daily, &entries);
  std::map<int, std::pair<int, int>> jobs;
  for (const LogEntry& e : entries) {
    auto& job = jobs[LeadingInt(e.id)];
    job.first += LeadingInt(e.pages);
    job.second += LeadingInt(e.cost);
  }
  const int expectedTotal = kThreads * kJobs * 9;
  if (entries.size() != kThreads * kJobs) {
    std::printf("%zu entries, expected %d\n", entries.size(), kThreads * kJobs);
    ++failures;
  }
  for (int t = 1; t <= kThreads; ++t) {
    for (int j = 0; j < kJobs; ++j) {
      const auto& job = jobs[t * 1000 + j];
      if (job.first != 3 || job.second != 9) {
        std::printf("job %d: %d pages, cost %d; expected 3 and 9\n", t * 1000 + j, job.first,
                    job.second);
        ++failures;
      }
    }
  }
  const std::string total =
      "<entry><user>Total</user><cost>" + std::to_string(expectedTotal) + "</cost></entry></log>";
  if (tail == std::string::npos || daily.substr(tail) != total) {
    std::printf("daily Total wrong\n");
    ++failures;
  }
  std::vector<LogEntry> gathered;
  const std::size_t globalTail = ReadLogEntries(global, &gathered);
  if (gathered.size() != entries.size() || globalTail == std::string::npos ||
      global.substr(globalTail) != total) {
    std::printf("the last global log does not hold the daily file\n");
    ++failures;
  }
  std::printf("%d threads x %d jobs, %d global builds meanwhile: %s\n", kThreads, kJobs, builds,
              failures == 0 ? "nothing lost" : "FAILED");
  for (const FoundFile& f : finder.Files()) env.files->Delete(f.path);
#ifdef _WIN32
  RemoveDirectoryA((folder + "\\Logs").c_str());
  RemoveDirectoryA(folder.c_str());
#else
  rmdir((folder + "/Logs").c_str());
  rmdir(folder.c_str());
#endif
  return failures == 0 ? 0 : 1;
}
