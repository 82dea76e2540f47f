// Linked into a program by pelko_system32_only (cmake/system32_only.cmake):
// before anything else runs, every DLL loaded from here on, the delay-loaded
// imports and what they load in turn, comes from System32 only.
#include <windows.h>

#include <cstdlib>

namespace {

__attribute__((constructor(101))) void System32Only() {
  // Without it the program would load what lies beside it: better not to run.
  if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) std::abort();
}

}  // namespace
