// Says troubles through the Windows build's own path to the Event Log, for
// the Event Log test under Wine.
//   trouble_probe say error|warning|info ID LINE
//   trouble_probe worker-fails TEXT   a worker whose Run throws TEXT, on a
//                                     real thread; exits 0 once it has ended
//   trouble_probe messages EXE        each category and event ID with the text
//                                     EXE's message table gives it ("-" for
//                                     none), "ID<tab>text", line breaks as "|"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
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

std::string MessageText(HMODULE table, DWORD id) {
  DWORD_PTR detail[] = {reinterpret_cast<DWORD_PTR>("DETAIL")};
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      table, id, 0, reinterpret_cast<char*>(&text), 0, reinterpret_cast<va_list*>(detail));
  if (length == 0) return "-";
  std::string flat;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\n') flat += '|';
    if (*c != '\r' && *c != '\n') flat += *c;
  }
  LocalFree(text);
  return flat;
}

int PrintMessages(const char* exe) {
  HMODULE table = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (table == nullptr) return 1;
  for (DWORD category = 1; category <= pelko::kEventCategoryCount; ++category) {
    std::printf("%lu\t%s\n", category, MessageText(table, category).c_str());
  }
  for (pelko::EventKind kind : pelko::kEveryEventKind) {
    std::printf("%u\t%s\n", pelko::EventId(kind), MessageText(table, pelko::EventId(kind)).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "say") == 0) {
    pelko::PlatformLogger().Write(SeverityNamed(argv[2]),
                                  static_cast<pelko::EventKind>(std::atoi(argv[3])), argv[4]);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "messages") == 0) return PrintMessages(argv[2]);
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
  std::fprintf(stderr,
               "usage: trouble_probe say error|warning|info ID LINE | worker-fails TEXT | "
               "messages EXE\n");
  return 2;
}
