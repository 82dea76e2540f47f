/* Stands in for Wine's icacls.exe, which does nothing: appends its command
   line to the file PELKO_ICACLS_LOG names and exits with PELKO_ICACLS_EXIT
   (0 when unset), so that the installer test sees what the installer asks
   of Windows and what it does when that fails. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(void) {
  const char* log = getenv("PELKO_ICACLS_LOG");
  const char* code = getenv("PELKO_ICACLS_EXIT");
  FILE* out = log != NULL ? fopen(log, "a") : NULL;
  if (out != NULL) {
    fprintf(out, "%s\n", GetCommandLineA());
    fclose(out);
  }
  return code != NULL ? atoi(code) : 0;
}
