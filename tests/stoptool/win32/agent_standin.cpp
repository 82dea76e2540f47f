// Stands in for the agent, built as Pelkomon.exe: prints "ready" and waits.
// Ended from outside, it exits with the code given; left alone, with 3
// after a minute.
#include <windows.h>

#include <cstdio>

int main() {
  std::puts("ready");
  std::fflush(stdout);
  Sleep(60000);
  return 3;
}
