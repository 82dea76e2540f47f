// Linked into a program by pelko_system32_only (cmake/system32_only.cmake):
// its delay-loaded imports, and the DLLs they import in turn, come from
// System32 only. Only these loads are limited: a process-wide limit
// (SetDefaultDllDirectories) would also keep an ODBC driver from the DLLs
// that lie beside it.
#include <windows.h>
#include <delayimp.h>

#include <cstdlib>

namespace {

FARPROC WINAPI FromSystem32(unsigned notice, PDelayLoadInfo info) {
  if (notice != dliNotePreLoadLibrary) return nullptr;
  HMODULE module = LoadLibraryExA(info->szDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Left to itself the helper would search the program's folder first.
  if (module == nullptr) std::abort();
  return reinterpret_cast<FARPROC>(module);
}

}  // namespace

extern "C" {
PfnDliHook __pfnDliNotifyHook2 = FromSystem32;
}
