// log_kill_test [KILLS]: a child process records jobs in a loop and tells
// the parent each id whose RecordJob returned; the parent kills it with
// SIGKILL at a random moment, then checks that the daily file is well-formed
// (xmllint) and holds every id told, with a Total equal to the sum.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agent/logs/log_format.h"
#include "agent/logs/record_job.h"
#include "tests/fakes/fake_registry.h"
#include "tests/lib/log_test_env.h"

using namespace pelko;

namespace {

constexpr int kCost = 2;

[[noreturn]] void RecordForEver(const std::string& folder, int firstId, int out) {
  RealLogEnv real(folder);
  Env& env = real.env;
  LogLocks& locks = real.locks;
  const Waiter& pause = real.pause;
  for (int id = firstId;; ++id) {
    RecordJob(env, locks, pause,
              {"\\\\SRV\\Killed", id, "user", "doc", 1, kCost, env.clock->Now()});
    if (write(out, &id, sizeof id) != sizeof id) _exit(3);
  }
}

std::vector<std::string> DailyFiles(const std::string& logs) {
  std::vector<std::string> paths;
  auto search = PlatformFileSystem().Find(logs + "/Killed_*.xml");
  FileEntry entry;
  while (search && search->Next(&entry)) paths.push_back(logs + "/" + entry.name);
  return paths;
}

}  // namespace

int main(int argc, char** argv) {
  const int kills = argc > 1 ? std::atoi(argv[1]) : 200;
  if (kills <= 0) {
    std::fprintf(stderr, "usage: log_kill_test [KILLS]\n");
    return 2;
  }
  char temp[] = "/tmp/pelko-kill-XXXXXX";
  if (mkdtemp(temp) == nullptr) return 2;
  const std::string folder = temp;
  const std::string logs = folder + "/Logs";
  mkdir(logs.c_str(), 0777);
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delayUs(0, 15000);
  std::printf("seed %u\n", seed);

  const auto started = std::chrono::steady_clock::now();
  std::set<int> told;
  int nextId = 1;
  int failures = 0;
  for (int round = 0; round < kills && failures == 0; ++round) {
    int channel[2];
    if (pipe(channel) != 0) return 2;
    const pid_t child = fork();
    if (child == 0) {
      close(channel[0]);
      RecordForEver(folder, nextId, channel[1]);
    }
    close(channel[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    int id;
    while (read(channel[0], &id, sizeof id) == sizeof id) told.insert(id);
    close(channel[0]);

    std::set<int> present;
    uint32_t sum = 0;
    for (const std::string& path : DailyFiles(logs)) {
      const std::string lint = "xmllint --noout '" + path + "'";
      if (std::system(lint.c_str()) != 0) {
        std::printf("round %d: %s is not well-formed\n", round, path.c_str());
        ++failures;
      }
      std::string text;
      if (PlatformFileSystem().ReadText(path, &text) != FileStatus::kOk) {
        std::printf("round %d: cannot read %s\n", round, path.c_str());
        ++failures;
        continue;
      }
      std::vector<LogEntry> entries;
      const std::size_t tail = ReadLogEntries(text, &entries);
      uint32_t fileSum = 0;
      for (const LogEntry& e : entries) {
        present.insert(LeadingInt(e.id));
        fileSum += static_cast<uint32_t>(LeadingInt(e.cost));
      }
      if (tail == std::string::npos || text.substr(tail) != "<entry><user>Total</user><cost>" +
                                                                std::to_string(fileSum) +
                                                                "</cost></entry></log>") {
        std::printf("round %d: %s has a wrong Total entry\n", round, path.c_str());
        ++failures;
      }
      sum += fileSum;
    }
    for (int t : told) {
      if (present.count(t) == 0) {
        std::printf("round %d: job %d was recorded but is gone\n", round, t);
        ++failures;
        break;
      }
    }
    if (sum != present.size() * kCost) {
      std::printf("round %d: costs do not add up\n", round);
      ++failures;
    }
    nextId =
        std::max(present.empty() ? 0 : *present.rbegin(), told.empty() ? 0 : *told.rbegin()) + 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%d kills, %zu jobs recorded and kept, %.1f s\n", kills, told.size(), seconds);
  if (told.empty()) {
    std::printf("no RecordJob ever returned: the kills proved nothing\n");
    ++failures;
  }
  const std::string clean = "rm -rf '" + folder + "'";
  std::system(clean.c_str());
  return failures == 0 ? 0 : 1;
}
