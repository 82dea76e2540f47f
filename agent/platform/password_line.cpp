#include "agent/platform/password_line.h"

#include <cstdio>

#ifndef _WIN32
#include <termios.h>
#include <unistd.h>
#endif

namespace pelko {

bool ReadPasswordLine(const char* prompt, std::string* password) {
#ifndef _WIN32
  termios saved{};
  const bool typed = isatty(0) && tcgetattr(0, &saved) == 0;
  if (typed) {
    std::fputs(prompt, stderr);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(0, TCSAFLUSH, &quiet);
  }
#else
  (void)prompt;
#endif
  password->clear();
  int c;
  while ((c = std::getchar()) != EOF && c != '\n' && password->size() <= kMaxPasswordBytes) {
    *password += static_cast<char>(c);
  }
#ifndef _WIN32
  if (typed) {
    tcsetattr(0, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
#endif
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return password->size() <= kMaxPasswordBytes;
}

}  // namespace pelko
