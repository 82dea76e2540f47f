// What every report writer does to a text it did not make itself (a name,
// a date, an id: from a log anyone who may write the logs folder may write,
// or from a database row any print user may name), whatever the source.
#pragma once

#include <string>
#include <string_view>

namespace pelko::report {

// What a text's bytes are: the logs hold windows-1252, the database UTF-8.
enum class TextEncoding { kWindows1252, kUtf8 };

// text of from's encoding in to's: windows-1252 to UTF-8 whole, UTF-8 to
// windows-1252 with "?" for what the code page lacks.
std::string Recoded(std::string text, TextEncoding from, TextEncoding to);

// field between double quotes with its quotes doubled (RFC 4180).
void AppendQuotedField(std::string& out, std::string_view field);

// text as one CSV cell, quoted only when it holds a comma, a quote or a line
// break. Where a spreadsheet would run it as a formula (= + - @ TAB or CR
// first, after any spaces and quotes) it starts with an apostrophe, which
// keeps it text. For text cells only: figures go out as numbers.
void AppendCsvCell(std::string& out, std::string_view text);

// text as a terminal or a mail reader may show it: every control character
// (C0, DEL, C1) and, in UTF-8, every byte of no character becomes "\xHH".
// In windows-1252, 0x80-0x9F are signs (€, “ ”) but the five bytes the code
// page leaves undefined, which stand for C1 controls.
std::string ShownText(std::string_view text, TextEncoding encoding);

}  // namespace pelko::report
