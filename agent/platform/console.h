// Text for whoever runs a command-line tool. A Windows console shows bytes
// in its OEM code page (850, 852, 866...), not in the ANSI one of the
// registry's and the logs' names, so it is handed the text in UTF-16, which
// it shows as it is. A file, a pipe or a POSIX terminal gets the bytes
// unchanged: nothing changes for scripts.
#pragma once

#include <string_view>

namespace pelko {

enum class ConsoleText { kAnsi, kUtf8 };  // the ANSI code page, or UTF-8
enum class StandardStream { kOutput, kError };

// True when standard output (or error) is a Windows console.
bool StandardOutputIsConsole(StandardStream stream = StandardStream::kOutput);

// Writes text, in encoding, to standard output (or error); false when it
// could not.
bool WriteStandardOutput(std::string_view text, ConsoleText encoding,
                         StandardStream stream = StandardStream::kOutput);

}  // namespace pelko
