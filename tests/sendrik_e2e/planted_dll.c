/* A system DLL's name planted beside the mail program: once loaded it marks
   itself ("NAME.dll.loaded" beside it) and ends the process with 66, before
   the program could use it. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char name[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameA(self, name, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    lstrcatA(name, ".loaded");
    CloseHandle(CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  }
  ExitProcess(66);
  return FALSE;
}
