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

std::string Stamp() {
  const std::tm local = LocalCalendarTime(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void AppendHex(std::string& out, unsigned char b) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[b >> 4];
  out += kDigits[b & 15];
}

// The length of the UTF-8 character at text[at] that may stand in the log
// as it is, or 0: overlong forms, surrogates and C1 characters may not.
std::size_t PlainCharacter(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char b = byte(0);
  if (b >= 0x20 && b < 0x7F) return 1;
  std::size_t length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  uint32_t code = b & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  const uint32_t least[5] = {0, 0, 0xA0, 0x800, 0x10000};
  if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string EscapeLogLine(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (std::size_t at = 0; at < line.size();) {
    const std::size_t length = PlainCharacter(line, at);
    if (length == 0) {
      AppendHex(out, static_cast<unsigned char>(line[at++]));
    } else {
      out.append(line, at, length);
      at += length;
    }
  }
  return out;
}

void SendrikLog::Write(std::string_view line) {
  const std::string text = Stamp() + " " + EscapeLogLine(line) + "\n";
  // Started by the agent, the program has no one to tell but its log; run
  // by hand, it tells the person too.
  if (folder.empty() || isatty(2)) std::fputs(text.c_str(), stderr);
  if (folder.empty()) return;
  std::string why;
  if (AppendToSendrikLog(folder, text, &why)) return;
  if (!isatty(2)) std::fputs(text.c_str(), stderr);
  const std::string said = "Sendrik: " + EscapeLogLine(why) + ": not written there";
  std::fprintf(stderr, "%s\n", said.c_str());
  if (refused && !saidRefusal) refused(said);
  saidRefusal = true;
}

}  // namespace pelko::mail
