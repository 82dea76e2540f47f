// UTF-8, UTF-16 and the Windows ANSI code page (windows-1252), for texts
// that leave the log files for a database.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelko {

bool IsValidUtf8(std::string_view bytes);
// Log bytes as UTF-8: valid UTF-8 stays as it is (what CUPS gives), any
// other text is taken as windows-1252 (what Windows gives).
std::string LogTextToUtf8(std::string_view bytes);
// windows-1252 bytes as UTF-8, whatever they hold.
std::string Windows1252ToUtf8(std::string_view bytes);
// UTF-8 as windows-1252, the code page the logs are read in: every
// character it cannot hold, and every byte of no character, becomes one "?".
std::string Utf8ToWindows1252(std::string_view utf8);
// UTF-8 as a log declaring UTF-8 holds it: every byte of no character
// becomes one "?".
std::string CleanUtf8(std::string_view utf8);
// UTF-8 in a log's encoding: itself (cleaned) where the log declares UTF-8,
// else windows-1252 with "?" for what it cannot hold.
std::string Utf8ToLogText(std::string_view utf8, bool logUtf8);
// A log's text moved to a log of the other encoding; the markup is ASCII
// and stays as it is.
std::string LogTextBetween(std::string_view text, bool fromUtf8, bool toUtf8);
// The character a windows-1252 byte stands for; one the code page leaves
// undefined stands for the C1 control of its number, as on Windows.
char32_t Windows1252Char(unsigned char byte);
// The character at text[*at], moving *at past it; a byte that starts no
// character gives U+FFFD, *valid false and *at moved by one.
char32_t NextUtf8(std::string_view text, std::size_t* at, bool* valid);
// Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// At most maxUnits UTF-16 units of utf8, never cutting a character.
std::string TruncateUtf8(std::string_view utf8, std::size_t maxUnits);

}  // namespace pelko
