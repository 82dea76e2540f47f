#include "stoptool/posix/stop_tool.h"

namespace pelko::stoptool {
namespace {

constexpr char kUsage[] =
    "usage: stopmon\n"
    "Ends the running agent (pelkomon) and front end (Tavisk), the programs of\n"
    "those names in stopmon's own folder, run by root or by you.\n"
    "stopmon --version tells the version.\n";

struct Ending {
  uint32_t id;
  const char* what;
};

// Sends every running copy of the program at `path` on its way; false when
// one of them cannot be, or the program cannot be looked for.
bool EndAll(ProcessControl& system, const char* what, const std::string& path, bool required,
            std::vector<Ending>* ending, std::ostream& err) {
  RunningProgram running;
  std::string error;
  switch (system.FindRunning(path, &running, &error)) {
    case ProcessControl::Found::kNoProgramFile:
      if (!required) return true;
      err << "stopmon: cannot find the " << what << "'s program: " << error << '\n';
      return false;
    case ProcessControl::Found::kFailed:
      err << "stopmon: cannot look for the " << what << ": " << error << '\n';
      return false;
    case ProcessControl::Found::kYes:
      break;
  }

  bool ok = true;
  for (uint32_t id : running.replaced) {
    err << "stopmon: process " << id << " runs a " << path
        << " that has since been replaced; not the " << what
        << " installed now, so it was left running\n";
    ok = false;
  }
  for (uint32_t id : running.ids) {
    if (system.Terminate(id, &error)) {
      ending->push_back({id, what});
    } else {
      err << "stopmon: cannot end the " << what << " (process " << id << "): " << error << '\n';
      ok = false;
    }
  }
  return ok;
}

}  // namespace

int RunPosixStopTool(ProcessControl& system, const std::vector<std::string>& args,
                     std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << kUsage;
    return 0;
  }
  if (!args.empty()) {
    err << "stopmon: unexpected argument '" << args[0] << "': it takes none; nothing was stopped\n"
        << kUsage;
    return 2;
  }

  std::string folder;
  std::string error;
  if (!system.OwnFolder(&folder, &error)) {
    err << "stopmon: cannot tell which folder it lies in: " << error << '\n';
    return 1;
  }

  std::vector<Ending> ending;
  bool ok = EndAll(system, "front end", folder + "/" + kFrontEndFileName,
                   /*required=*/false, &ending, err);
  ok &= EndAll(system, "agent", folder + "/" + kAgentFileName, /*required=*/true, &ending, err);

  std::vector<uint32_t> ids;
  for (const Ending& process : ending) ids.push_back(process.id);
  for (uint32_t id : system.WaitForEnd(ids, kEndWaitMs)) {
    for (const Ending& process : ending) {
      if (process.id != id) continue;
      err << "stopmon: the " << process.what << " (process " << id << ") did not end within "
          << kEndWaitMs / 1000 << " s\n";
    }
    ok = false;
  }
  return ok ? 0 : 1;
}

}  // namespace pelko::stoptool
