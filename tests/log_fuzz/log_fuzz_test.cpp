// log_fuzz_test [JOBS] [SEED]: records jobs whose user, document and printer
// names are random byte strings with the readers' markers spliced in. Every
// file must stay in the logs folder and well-formed, its Total the sum of
// its entries' costs, and together they must hold every cost recorded.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
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

const char* const kMarkers[] = {"<id>",   "</id>",   "</log>",    "<entry><user>Total</user>",
                                "<cost>", "</cost>", "<entry>",   "</date>",
                                "\\",     "/",       "..",        ":",
                                "&amp;",  "\r\n",    "<![CDATA[", "]]>"};

std::string RandomText(std::mt19937& random) {
  std::string text;
  const int pieces = static_cast<int>(random() % 6);
  for (int i = 0; i < pieces; ++i) {
    if (random() % 3 == 0) {
      text += kMarkers[random() % (sizeof kMarkers / sizeof *kMarkers)];
    } else {
      const int n = static_cast<int>(random() % 8);
      for (int k = 0; k < n; ++k) text += static_cast<char>(random() % 256);
    }
  }
  return text;
}

// xmllint both parses the file and adds up its costs by XPath.
bool CheckedByXmllint(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return true;
#else
  // The name goes through the environment: names made of random bytes hold
  // quotes of every kind.
  setenv("PELKO_CHECKED_LOG", path.c_str(), 1);
  const std::string command =
      "xmllint --xpath 'sum(/log/entry[date]/cost) = number(/log/entry[not(date)]/cost) and "
      "count(/log/entry[not(date)]) = 1' \"$PELKO_CHECKED_LOG\" 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char answer[256] = {0};
  const std::size_t n = std::fread(answer, 1, sizeof answer - 1, pipe);
  const int status = pclose(pipe);
  return status == 0 && std::string(answer, n).rfind("true", 0) == 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::atoi(argv[1]) : 400;
  const unsigned seed =
      argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : std::random_device{}();
  if (jobs <= 0) {
    std::fprintf(stderr, "usage: log_fuzz_test [JOBS] [SEED]\n");
    return 2;
  }
  std::printf("seed %u\n", seed);
  std::mt19937 random(seed);
  const std::string folder = MakeLogsFolder("pelko-fuzz-");
  RealLogEnv real(folder);
  FakeRegistry& registry = real.registry;
  Env& env = real.env;
  LogLocks& locks = real.locks;
  const Waiter& pause = real.pause;
  const char sep = env.files->Separator();

  std::vector<std::string> printers;
  for (int i = 0; i < 12; ++i) printers.push_back(RandomText(random));
  int64_t recorded = 0;
  for (int i = 0; i < jobs; ++i) {
    const int pages = static_cast<int>(random() % 6);
    RecordJob(env, locks, pause,
              {printers[random() % printers.size()], static_cast<int32_t>(random() % 40),
               RandomText(random), RandomText(random), pages, pages * 3, env.clock->Now()});
    recorded += pages * 3;
  }
  RegistryStringValue globalPath(registry, "Software\\Pelko\\Path");
  BuildGlobalLog(env, locks, pause, globalPath);

  int failures = 0;
  FileFinder finder(*env.files);
  finder.SetRoot(folder, true);
  finder.AddFiles("*", true, true);
  int64_t kept = 0;
  int64_t global = -1;
  const std::string logs = folder + sep + "Logs";
  for (const FoundFile& f : finder.Files()) {
    if (f.path == logs) continue;
    if (f.isFolder || f.path.compare(0, logs.size() + 1, logs + sep) != 0) {
      std::printf("outside the logs folder or a folder: %s\n", f.path.c_str());
      ++failures;
      continue;
    }
    std::string text;
    env.files->ReadText(f.path, &text);
    std::vector<LogEntry> entries;
    const std::size_t tail = ReadLogEntries(text, &entries);
    int64_t sum = 0;
    for (const LogEntry& e : entries) sum += LeadingInt(e.cost);
    const bool ok = tail != std::string::npos &&
                    text.substr(tail) == "<entry><user>Total</user><cost>" + std::to_string(sum) +
                                             "</cost></entry></log>" &&
                    text.find('\n') == std::string::npos && CheckedByXmllint(f.path);
    if (!ok) {
      std::printf("damaged: %s\n", f.path.c_str());
      ++failures;
    }
    if (f.path.find(sep + std::string("GlobalLog_")) != std::string::npos) {
      global = sum;
    } else {
      kept += sum;
    }
  }
  if (kept != recorded || global != recorded) {
    std::printf("costs recorded %lld, in the daily files %lld, in the global log %lld\n",
                static_cast<long long>(recorded), static_cast<long long>(kept),
                static_cast<long long>(global));
    ++failures;
  }
  std::printf("%d jobs into %zu files: %s\n", jobs, finder.Files().size() - 1,
              failures == 0 ? "all well-formed, nothing lost" : "FAILED");
  for (auto it = finder.Files().begin(); it != finder.Files().end(); ++it) {
#ifdef _WIN32
    if (it->isFolder)
      RemoveDirectoryA(it->path.c_str());
    else
      DeleteFileA(it->path.c_str());
#else
    if (it->isFolder)
      rmdir(it->path.c_str());
    else
      unlink(it->path.c_str());
#endif
  }
#ifdef _WIN32
  RemoveDirectoryA(folder.c_str());
#else
  rmdir(folder.c_str());
#endif
  return failures == 0 ? 0 : 1;
}
