#include "standin_steps.h"

#include <winspool.h>

#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Bounds of the waits: far beyond what a look or a notification takes on a
// busy machine (a look of a queue with jobs comes with every 2-second pass).
constexpr ULONGLONG kNewsBoundMs = 30000;
constexpr ULONGLONG kLookBoundMs = 120000;
constexpr ULONGLONG kAwaitBoundMs = 240000;

struct Job {
  std::string queue;
  std::string label;
  std::string user;
  DWORD id = 0;
  DWORD total = 0;
  DWORD printed = 0;
  bool held = false;
};

std::string Setting(const char* name) {
  char value[MAX_PATH] = {};
  return GetEnvironmentVariableA(name, value, sizeof value) > 0 ? value : "";
}

void Append(const std::string& line) {
  const std::string path = Setting("PELKO_STANDIN_RESULT");
  if (path.empty()) return;
  std::ofstream out(path, std::ios::app | std::ios::binary);
  out << line << "\n";
}

ULONGLONG UnixMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / 10000 - 11644473600000ULL;
}

// True once `done` holds, looking every 2 ms; false after boundMs.
bool WaitUntil(ULONGLONG boundMs, const std::function<bool()>& done) {
  const ULONGLONG until = GetTickCount64() + boundMs;
  while (!done()) {
    if (GetTickCount64() > until) return false;
    Sleep(2);
  }
  return true;
}

class Steps {
 public:
  void Run(std::istream& in) {
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::string verb;
      if (!(words >> verb) || verb[0] == '#') continue;
      if (verb != "queues" && verb != "await" && verb != "ready") NewsTaken(line);
      Do(verb, words, line);
    }
    Append("done");
  }

 private:
  void Do(const std::string& verb, std::istringstream& words, const std::string& line) {
    std::string queue, label, user, file;
    DWORD pages = 0;
    if (verb == "queues") {
      for (std::string name; words >> name;) queues.push_back(name);
    } else if (verb == "ready") {
      Ready(line);
    } else if (verb == "add" && words >> queue >> label >> user >> pages) {
      // "%20" stands for a space in a name.
      for (std::size_t at; (at = user.find("%20")) != std::string::npos;) user.replace(at, 3, " ");
      std::string details;
      std::getline(words, details);
      const DWORD id =
          StandInAddDetailedJob(queue.c_str(), user.c_str(), label.c_str(), pages, details.c_str());
      jobs[queue].push_back(Job{queue, label, user, id, pages});
    } else if (int answer = 0; verb == "colordevice" && words >> queue >> answer) {
      StandInSetColorDevice(queue.c_str(), answer);
    } else if (verb == "flash" && words >> queue >> label >> user >> pages) {
      Job job{queue, label, user, 0, pages, pages};
      job.id = StandInFlashJob(queue.c_str(), user.c_str(), label.c_str(), pages);
      Ended(job);
    } else if ((verb == "hold" || verb == "release") && words >> label) {
      if (Job* job = Find(label)) {
        job->held = verb == "hold";
        StandInSetStatus(job->queue.c_str(), job->id, job->held ? JOB_STATUS_PAUSED : 0);
      }
    } else if (verb == "tick") {
      Tick();
    } else if (verb == "cancel" && words >> label) {
      Cancel(label);
    } else if (verb == "restart") {
      DWORD later = 60;
      if (!(words >> later)) later = 60;
      // Once every queue has been listed after what came before: which of
      // the agent's looks meets the restart is a matter of the race, not
      // of the numbering this step is for.
      Look(line, /*all=*/true);
      for (auto& [name, waiting] : jobs) {
        for (const Job& job : waiting) Ended(job);
        waiting.clear();
      }
      StandInRestart(later);
    } else if (verb == "look") {
      Look(line);
    } else if (verb == "await" && words >> file) {
      Append("awaiting " + file);
      if (!WaitUntil(kAwaitBoundMs,
                     [&] { return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES; })) {
        Append("timeout " + line);
      }
    } else {
      Append("bad step " + line);
    }
  }

  void NewsTaken(const std::string& line) {
    for (const std::string& queue : queues) {
      if (!WaitUntil(kNewsBoundMs, [&] { return StandInNewsTaken(queue.c_str()) != FALSE; })) {
        Append("timeout news of " + queue + " before " + line);
      }
    }
  }

  void Ready(const std::string& line) {
    for (const std::string& queue : queues) {
      if (!WaitUntil(kLookBoundMs, [&] { return StandInListeners(queue.c_str()) > 0; })) {
        Append("timeout " + line + " " + queue);
      }
    }
    Look(line, /*all=*/true);
  }

  // A listing of each queue that began after this step did.
  void Look(const std::string& line, bool all = false) {
    std::map<std::string, long> before;
    for (const std::string& queue : queues) {
      if (all || !jobs[queue].empty()) before[queue] = StandInEnumerations(queue.c_str());
    }
    for (const auto& [queue, count] : before) {
      if (!WaitUntil(kLookBoundMs,
                     [&] { return StandInEnumerations(queue.c_str()) >= count + 2; })) {
        Append("timeout " + line + " " + queue);
      }
    }
  }

  void Tick() {
    for (auto& [queue, waiting] : jobs) {
      for (auto at = waiting.begin(); at != waiting.end(); ++at) {
        if (at->held) continue;
        StandInPrintPages(queue.c_str(), at->id, 1);
        if (++at->printed >= at->total) {
          Ended(*at);
          StandInEndJob(queue.c_str(), at->id);
          waiting.erase(at);
        }
        break;
      }
    }
  }

  void Cancel(const std::string& label) {
    Job* job = Find(label);
    if (job == nullptr || job->printed == 0 || job->printed >= job->total) {
      Append("bad step cancel " + label + ": not printing");
      return;
    }
    StandInSetStatus(job->queue.c_str(), job->id, JOB_STATUS_PRINTING | JOB_STATUS_DELETING);
    Ended(*job);
    StandInEndJob(job->queue.c_str(), job->id);
    auto& waiting = jobs[job->queue];
    for (auto at = waiting.begin(); at != waiting.end(); ++at) {
      if (at->label == label) {
        waiting.erase(at);
        break;
      }
    }
  }

  Job* Find(const std::string& label) {
    for (auto& [queue, waiting] : jobs) {
      for (Job& job : waiting) {
        if (job.label == label) return &job;
      }
    }
    return nullptr;
  }

  static void Ended(const Job& job) {
    Append(job.queue + " " + std::to_string(job.id) + " " + job.user + " " + job.label + " " +
           std::to_string(job.printed) + " " + std::to_string(UnixMs()));
  }

  std::vector<std::string> queues;
  std::map<std::string, std::deque<Job>> jobs;  // in each queue, in order
};

DWORD WINAPI RunSteps(void* file) {
  std::ifstream in(static_cast<const char*>(file));
  Steps().Run(in);
  return 0;
}

}  // namespace

void StartStepsOnce() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  InitOnceExecuteOnce(
      &once,
      [](INIT_ONCE*, void*, void**) -> BOOL {
        static char file[MAX_PATH];
        if (GetEnvironmentVariableA("PELKO_STANDIN_STEPS", file, sizeof file) == 0) return TRUE;
        HANDLE thread = CreateThread(nullptr, 0, RunSteps, file, 0, nullptr);
        if (thread != nullptr) CloseHandle(thread);
        return TRUE;
      },
      nullptr, nullptr);
}
