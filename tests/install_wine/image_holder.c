/* Holds the program file its argument names open as a running copy of it
   would: others may read it, none may delete it. Says "held" on standard
   output once it does; ends when the test ends it (at most 120 s). It
   stands in for an agent run by hand beside the service, which is refused
   now that one agent runs at a time. */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  puts("held");
  fflush(stdout);
  Sleep(120000);
  CloseHandle(file);
  return 0;
}
