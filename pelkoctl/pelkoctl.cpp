// pelkoctl: the printers and settings of the agent, and a check of what
// would stop it, for administrators (docs/install.md).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "agent/util/coding.h"
#include "pelkoctl/command_line.h"
#include "pelkoctl/health_check.h"
#ifdef _WIN32
#include "agent/platform/console.h"
#include "pelkoctl/win32/host_probe.h"

namespace {

// What pelkoctl says is in the ANSI code page (the registry's names, and the
// logs' as LogTextForUser gives them); a console is handed it as it shows
// it. Each flush writes what came before it: check flushes whole lines.
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(pelko::StandardStream stream) : stream_(stream) {}
  ~ConsoleBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) said_ += traits_type::to_char_type(c);
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    said_.append(text, static_cast<std::size_t>(size));
    return size;
  }
  int sync() override {
    const bool ok = pelko::WriteStandardOutput(said_, pelko::ConsoleText::kAnsi, stream_);
    said_.clear();
    return ok ? 0 : -1;
  }

 private:
  pelko::StandardStream stream_;
  std::string said_;
};

}  // namespace
#else
#include <sys/stat.h>

#include <cstdlib>

#include "pelkoctl/posix/host_probe.h"

namespace {

// A mistyped PELKO_REGISTRY must not start a second store that the agent
// never reads: every command wants the store the package made.
bool StoreIsThere() {
  const char* named = std::getenv("PELKO_REGISTRY");
  const std::string folder = named != nullptr && *named != '\0' ? named : "/var/lib/pelko/registry";
  struct stat st;
  if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  std::cerr << "pelkoctl: the settings store " << folder << " does not exist"
            << (named != nullptr && *named != '\0' ? " (named by PELKO_REGISTRY)"
                                                   : " (installing the package makes it)")
            << '\n';
  return false;
}

}  // namespace
#endif

namespace {

// Every wait of check's is bounded; this is the bound of the whole, should
// something unforeseen not answer: a monitoring system gets its answer.
constexpr int kCheckBoundSeconds = 14;

void GiveUpCheckLater(bool probeForm) {
  std::thread([probeForm] {
    std::this_thread::sleep_for(std::chrono::seconds(kCheckBoundSeconds));
    const std::string said =
        std::string(probeForm ? "PELKO CRITICAL - " : "FAULT  ") + "check gave up after " +
        std::to_string(kCheckBoundSeconds) +
        " s: what it asked after its last line does not answer (run pelkoctl check by hand to "
        "see where it stops)\n";
    std::fputs(said.c_str(), stdout);
    std::fflush(stdout);
    std::_Exit(pelko::ctl::kCheckFault);
  }).detach();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && pelko::AsciiLowered(args[0]) == "--version") {
    std::cout << "pelkoctl " PELKO_VERSION "\n";
    return 0;
  }
  if (!args.empty() && pelko::AsciiLowered(args[0]) == "check") {
    const std::string form = args.size() > 1 ? pelko::AsciiLowered(args[1]) : "";
    GiveUpCheckLater(form == "--probe" || form == "--nagios");
  }
  pelko::Env env = pelko::PlatformEnv();
  // Said to whoever runs it, not to the system's log.
  env.troubles = nullptr;
#ifdef _WIN32
  pelko::ctl::Win32HostProbe probe;
#else
  pelko::ctl::PosixHostProbe probe;
  // Help and the table of settings need no store.
  const bool storeless =
      !args.empty() && (pelko::ctl::IsHelp(args[0]) || pelko::AsciiLowered(args[0]) == "settings");
  if (!storeless && !StoreIsThere()) return 1;
#endif
#ifdef _WIN32
  // Each stream that is a console is handed its text whole, as it shows it.
  ConsoleBuffer output(pelko::StandardStream::kOutput), error(pelko::StandardStream::kError);
  std::streambuf* const outputBefore =
      pelko::StandardOutputIsConsole(pelko::StandardStream::kOutput) ? std::cout.rdbuf(&output)
                                                                     : nullptr;
  std::streambuf* const errorBefore = pelko::StandardOutputIsConsole(pelko::StandardStream::kError)
                                          ? std::cerr.rdbuf(&error)
                                          : nullptr;
  const int code = pelko::ctl::RunPelkoctl(env, &probe, args, std::cout, std::cerr);
  if (outputBefore != nullptr) {
    std::cout.flush();
    std::cout.rdbuf(outputBefore);
  }
  if (errorBefore != nullptr) {
    std::cerr.flush();
    std::cerr.rdbuf(errorBefore);
  }
  return code;
#else
  return pelko::ctl::RunPelkoctl(env, &probe, args, std::cout, std::cerr);
#endif
}
