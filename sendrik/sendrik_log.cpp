#include "sendrik/sendrik_log.h"

#include <cstdio>
#include <ctime>

#include "report/guard.h"
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

// A server's text once brought 0x9B (a terminal's CSI) and line breaks into
// the log: a line is shown as a report shows a name.
std::string EscapedLine(std::string_view line) {
  return report::ShownText(line, report::TextEncoding::kUtf8);
}

}  // namespace

void SendrikLog::Write(std::string_view line) {
  const std::string text = Stamp() + " " + EscapedLine(line) + "\n";
  // Started by the agent, the program has no one to tell but its log; run
  // by hand, it tells the person too.
  if (folder.empty() || isatty(2)) std::fputs(text.c_str(), stderr);
  if (folder.empty()) return;
  std::string why;
  if (AppendToSendrikLog(folder, text, &why)) return;
  if (!isatty(2)) std::fputs(text.c_str(), stderr);
  const std::string said = "Sendrik: " + EscapedLine(why) + ": not written there";
  std::fprintf(stderr, "%s\n", said.c_str());
  if (refused && !saidRefusal) refused(said);
  saidRefusal = true;
}

}  // namespace pelko::mail
