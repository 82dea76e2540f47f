// Writes one job into today's daily log of printer "Office" and builds the
// global log, in FOLDER/Logs, with the agent's own file layer; prints the
// two paths. For the reading-rights test, which runs it as root.
#include <cstdio>

#include "agent/logs/global_log.h"
#include "agent/logs/log_store.h"
#include "agent/logs/record_job.h"
#include "tests/lib/log_test_env.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: log_writer FOLDER\n");
    return 2;
  }
  pelko::RealLogEnv real(argv[1]);
  if (!pelko::RecordJob(real.env, real.locks, real.pause,
                        {"Office", 7, "anna", "plan.pdf", 3, 60, pelko::PlatformClock().Now()})) {
    return 1;
  }
  pelko::RegistryStringValue path(real.registry, "Software\\Pelko\\Path");
  pelko::BuildGlobalLog(real.env, real.locks, real.pause, path);
  pelko::LogStore store(real.env);
  std::printf("%s\n%s\n", store.ComposePath("Office", "xml").c_str(),
              store.ComposePath("GlobalLog", "xml").c_str());
  return 0;
}
