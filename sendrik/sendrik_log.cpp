#include "sendrik/sendrik_log.h"

#include <cstdio>
#include <ctime>

#include "sendrik/local_time.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace pelko::mail {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string Stamp() {
  const std::tm local = LocalCalendarTime(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// One line, whatever the message holds: no line breaks, no control bytes.
std::string OneLine(std::string_view line) {
  std::string out;
  for (const char c : line) {
    const unsigned char b = static_cast<unsigned char>(c);
    out += b < 0x20 || b == 0x7F ? ' ' : c;
  }
  return out;
}

}  // namespace

void SendrikLog::Write(std::string_view line) {
  const std::string text = Stamp() + " " + OneLine(line) + "\n";
  // Started by the agent, the program has no one to tell but its log; run
  // by hand, it tells the person too.
  if (folder.empty() || isatty(2)) std::fputs(text.c_str(), stderr);
  if (folder.empty()) return;
  const std::string path = folder + kSeparator + kLogName;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    const bool full = std::fseek(f, 0, SEEK_END) == 0 && std::ftell(f) >= static_cast<long>(kLogLimit);
    std::fclose(f);
    if (full) {
      const std::string old = path + ".old";
      std::remove(old.c_str());
      std::rename(path.c_str(), old.c_str());
    }
  }
  std::FILE* f = std::fopen(path.c_str(), "ab");
  const bool written = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f) std::fclose(f);
  if (!written && !isatty(2)) std::fputs(text.c_str(), stderr);
}

}  // namespace pelko::mail
