// Says troubles through the Windows build's own path to the Event Log, for
// the Event Log test under Wine.
//   trouble_probe say error|warning|info LINE
//   trouble_probe worker-fails TEXT   a worker whose Run throws TEXT, on a
//                                     real thread; exits 0 once it has ended
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "agent/worker/worker_thread.h"

namespace {

class FailingWorker : public pelko::WorkerThread {
 public:
  FailingWorker(const pelko::Env& env, std::string text)
      : WorkerThread(env), text(std::move(text)) {
    name = "probe thread";
  }
  ~FailingWorker() { Stop(); }
  void Run() override { throw std::runtime_error(text); }

 private:
  std::string text;
};

pelko::Severity SeverityNamed(const char* name) {
  if (std::strcmp(name, "error") == 0) return pelko::Severity::kError;
  if (std::strcmp(name, "info") == 0) return pelko::Severity::kInfo;
  return pelko::Severity::kWarning;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "say") == 0) {
    pelko::PlatformLogger().Write(SeverityNamed(argv[2]), argv[3]);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "worker-fails") == 0) {
    pelko::TroubleReport troubles(&pelko::PlatformLogger());
    pelko::Env env;
    env.clock = &pelko::PlatformClock();
    env.threads = &pelko::PlatformThreads();
    env.troubles = &troubles;
    FailingWorker worker(env, argv[2]);
    worker.Start();
    for (int i = 0; i < 500 && !worker.HasEnded(); ++i) env.clock->Sleep(10);
    return worker.HasEnded() ? 0 : 1;
  }
  std::fprintf(stderr, "usage: trouble_probe say error|warning|info LINE | worker-fails TEXT\n");
  return 2;
}
