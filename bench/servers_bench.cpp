// One print server as the database sees it, for bench/servers_bench.sh and
// the database tests: the agent's own sync (LogSync over the platform's
// ODBC) sends daily logs that this program writes as the agent does, in a
// folder of its own.
//
//   servers_bench SERVER CONNECTION JOBS [PRINTERS]
//       half the jobs in the logs before a first sync, then the rest arriving
//       one to four at a time, each arrival synced; the database away or a
//       statement failed: connected again as the agent does. Prints one line:
//       server=... rows=... statements=... retries=... outages=... seconds=...
//   servers_bench SERVER CONNECTION --steady
//       a new job in steady state with 10 and with 2000 jobs already in its
//       printer's day: the agent's statements and milliseconds per job
//   servers_bench SERVER CONNECTION JOBS [PRINTERS] --hold
//       two rounds (the logs whole; then every entry changed and as many jobs
//       added), each held before its commit: "held N" on standard output,
//       then one line on standard input lets it commit
// The database password is PELKO_BENCH_PASSWORD, when set.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "agent/database/log_sync.h"
#include "agent/database/schema.h"
#include "agent/logs/log_format.h"
#include "bench/log_bench_env.h"

namespace pelko {
namespace {

// Every round looks at every file, as the agent does once a minute: a
// folder's time of writing that moved within its clock's grain hides no
// change from a bench that writes faster than the agent's jobs come.
class FullLookClock : public Clock {
 public:
  LocalTime Now() override { return PlatformClock().Now(); }
  uint64_t MonotonicMs() override {
    return PlatformClock().MonotonicMs() + ++looks * database::kFullLookMs;
  }
  void Sleep(uint32_t ms) override { PlatformClock().Sleep(ms); }
  std::unique_ptr<Signal> NewSignal() override { return PlatformClock().NewSignal(); }

 private:
  uint64_t looks = 0;
};

// Holds a transaction that wrote job rows open before its commit until told
// to go on.
class HeldConnection : public SqlConnection {
 public:
  explicit HeldConnection(std::unique_ptr<SqlConnection> inner) : inner(std::move(inner)) {}
  bool Execute(std::string_view sql, const std::vector<SqlParam>& params,
               std::vector<SqlRow>* rows) override {
    wroteJobs = wroteJobs || sql.rfind("INSERT INTO pelko_jobs", 0) == 0;
    return inner->Execute(sql, params, rows);
  }
  bool Commit() override {
    if (!std::exchange(wroteJobs, false)) return inner->Commit();
    std::printf("held %d\n", ++holds);
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    return inner->Commit();
  }
  bool Rollback() override {
    wroteJobs = false;
    return inner->Rollback();
  }
  std::string ProductName() override { return inner->ProductName(); }
  std::string LastError() const override { return inner->LastError(); }
  bool Lost() const override { return inner->Lost(); }

 private:
  std::unique_ptr<SqlConnection> inner;
  bool wroteJobs = false;
  int holds = 0;
};

struct Job {
  int id;
  int pages;
};

class Server {
 public:
  Server(std::string name, std::string connectionText, bool hold)
      : name(std::move(name)), connectionText(std::move(connectionText)), hold(hold) {
    folder.env.clock = &clock;
    folder.env.sql = &PlatformSql();
    if (const char* password = std::getenv("PELKO_BENCH_PASSWORD")) {
      sealed = SealedPassword{kRegSz, password};
    }
    today = clock.Now();
  }

  // A printer's daily log, written anew through a rename as the agent
  // writes it, the newest entry first.
  void WriteLog(const std::string& printer, const std::vector<Job>& jobs) {
    std::string text = DailyLogHead(printer, today);
    int total = 0;
    char time[16];
    for (auto job = jobs.rbegin(); job != jobs.rend(); ++job) {
      std::snprintf(time, sizeof time, "%02d:%02d:%02d", job->id / 3600 % 24, job->id / 60 % 60,
                    job->id % 60);
      AppendJobEntry(text, {FormatLogDate(today), time, std::to_string(job->id),
                            "user" + std::to_string(job->id % 97), printer,
                            name + ": report " + std::to_string(job->id) + ".pdf",
                            std::to_string(job->pages), std::to_string(job->pages * 5)});
      total += job->pages * 5;
    }
    AppendTotalEntry(text, total);
    text += "</log>";
    const std::string path = folder.logs + "/" + printer + "_" + LogDateOf(today) + ".xml";
    FILE* file = std::fopen((path + ".new").c_str(), "wx");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
        std::fclose(file) != 0 || std::rename((path + ".new").c_str(), path.c_str()) != 0) {
      std::perror(path.c_str());
      std::exit(1);
    }
  }

  // One round of the agent's database thread: connects when it has no
  // connection, then sends what changed; a failure drops the connection and
  // the next round connects again after the agent's wait.
  void Sync() {
    for (uint32_t wait = 5000;; wait = std::min(wait * 2, 60000u)) {
      std::string error;
      if (!sync && !Connect(&error)) {
        Failed(error, wait);
        continue;
      }
      const auto start = std::chrono::steady_clock::now();
      if (sync->SendChanges(*connection, folder.logs, &error)) {
        lastMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count();
        return;
      }
      Failed(error, wait);
    }
  }

  uint64_t Statements() const { return statements + (sync ? sync->StatementsRun() : 0); }
  uint64_t Retries() const { return retries + (sync ? sync->Retries() : 0); }

  std::string name;
  int outages = 0;
  std::string firstError;
  double lastMs = 0;

 private:
  static std::string LogDateOf(const LocalTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", t.year, t.month, t.day);
    return text;
  }

  bool Connect(std::string* error) {
    auto opened = PlatformSql().Connect(connectionText, sealed, 10, error);
    if (!opened || !database::EnsureSchema(*opened, error)) return false;
    connection = hold ? std::make_unique<HeldConnection>(std::move(opened)) : std::move(opened);
    sync = std::make_unique<database::LogSync>(
        folder.env, locks,
        [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); },
        database::TruncateServer(name));
    return sync->LoadState(*connection, error);
  }

  void Failed(const std::string& error, uint32_t wait) {
    if (sync) {
      statements += sync->StatementsRun();
      retries += sync->Retries();
    }
    sync.reset();
    connection.reset();
    if (outages++ == 0) firstError = error;
    std::fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
  }

  FullLookClock clock;
  BenchFolder folder;
  LogLocks locks;
  std::string connectionText;
  bool hold;
  SealedPassword sealed;
  LocalTime today;
  std::unique_ptr<SqlConnection> connection;
  std::unique_ptr<database::LogSync> sync;
  uint64_t statements = 0, retries = 0;
};

int Load(Server& server, int jobs, int printers) {
  const auto start = std::chrono::steady_clock::now();
  // Every server prints to printers of the same names and numbers its jobs
  // alike: only the server's name tells their rows apart.
  std::vector<std::vector<Job>> days(printers);
  auto add = [&](int id) {
    days[id % printers].push_back({id, id % 9 + 1});
    return id % printers;
  };
  int id = 1;
  for (; id <= jobs / 2; ++id) add(id);
  for (int p = 0; p < printers; ++p) server.WriteLog("P" + std::to_string(p + 1), days[p]);
  server.Sync();
  uint32_t seed = static_cast<uint32_t>(std::hash<std::string>()(server.name));
  while (id <= jobs) {
    seed = seed * 1103515245 + 12345;
    std::vector<bool> changed(printers);
    for (int k = 1 + (seed >> 16) % 4; k > 0 && id <= jobs; --k) changed[add(id++)] = true;
    for (int p = 0; p < printers; ++p) {
      if (changed[p]) server.WriteLog("P" + std::to_string(p + 1), days[p]);
    }
    server.Sync();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("server=%s rows=%d statements=%llu retries=%llu outages=%d seconds=%.2f%s%s\n",
              server.name.c_str(), jobs, static_cast<unsigned long long>(server.Statements()),
              static_cast<unsigned long long>(server.Retries()), server.outages, seconds,
              server.firstError.empty() ? "" : " first_error=", server.firstError.c_str());
  return 0;
}

int Steady(Server& server) {
  std::vector<Job> day;
  for (int already : {10, 2000}) {
    while (static_cast<int>(day.size()) < already)
      day.push_back({static_cast<int>(day.size()) + 1, 2});
    server.WriteLog("Steady", day);
    server.Sync();
    const uint64_t statements = server.Statements();
    double ms = 0;
    constexpr int kNewJobs = 20;
    for (int k = 0; k < kNewJobs; ++k) {
      day.push_back({static_cast<int>(day.size()) + 1, 2});
      server.WriteLog("Steady", day);
      server.Sync();
      ms += server.lastMs;
    }
    // The commit is a call of its own beside the statements.
    std::printf("steady jobs_in_day=%d statements_per_job=%.1f ms_per_job=%.2f\n", already,
                double(server.Statements() - statements) / kNewJobs + 1, ms / kNewJobs);
  }
  return server.outages == 0 ? 0 : 1;
}

int Held(Server& server, int jobs, int printers) {
  std::vector<std::vector<Job>> days(printers);
  for (int id = 1; id <= jobs; ++id) days[id % printers].push_back({id, 1});
  for (int round = 0; round < 2; ++round) {
    for (int p = 0; p < printers; ++p) server.WriteLog("P" + std::to_string(p + 1), days[p]);
    server.Sync();
    // Every entry grows a page, and as many jobs come.
    for (auto& day : days) {
      for (Job& job : day) ++job.pages;
    }
    for (int id = jobs + 1; id <= 2 * jobs; ++id) days[id % printers].push_back({id, 1});
  }
  std::printf("done statements=%llu\n", static_cast<unsigned long long>(server.Statements()));
  return server.outages == 0 ? 0 : 1;
}

}  // namespace
}  // namespace pelko

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool hold = !args.empty() && args.back() == "--hold";
  if (hold) args.pop_back();
  if (args.size() < 3 || args.size() > 4) {
    std::fputs(
        "usage: servers_bench SERVER CONNECTION JOBS [PRINTERS] [--hold]\n"
        "       servers_bench SERVER CONNECTION --steady\n",
        stderr);
    return 2;
  }
  pelko::KeepDriverFilesPrivate();
  pelko::Server server(args[0], args[1], hold);
  if (args[2] == "--steady") return pelko::Steady(server);
  const int jobs = std::atoi(args[2].c_str());
  const int printers = args.size() > 3 ? std::atoi(args[3].c_str()) : 4;
  if (jobs < 1 || printers < 1) return 2;
  return hold ? pelko::Held(server, jobs, printers) : pelko::Load(server, jobs, printers);
}
