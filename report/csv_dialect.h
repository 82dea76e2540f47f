// What a spreadsheet of another locale needs of the CSV: another field
// separator (";" where the comma is the decimal sign) and UTF-8 with a
// byte-order mark, by which spreadsheets recognise it. Applied to the
// rows csv.h makes, so that the fields stay as guard.h guards them.
#pragma once

#include <string>
#include <string_view>

#include "report/guard.h"

namespace pelko::report {

struct CsvDialect {
  char separator = ',';
  TextEncoding encoding = TextEncoding::kWindows1252;
};

// Comma-separated rows (RFC 4180, as csv.h writes them) with separator in
// place of the comma: a field holding the new separator is quoted, a quoted
// one stays quoted.
std::string WithSeparator(std::string_view rows, char separator);

// The UTF-8 byte-order mark.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The rows (names in from's encoding) in the dialect, and the byte-order
// mark first when asked.
std::string InDialect(std::string_view rows, const CsvDialect& dialect, bool first,
                      TextEncoding from = TextEncoding::kWindows1252);
// The rows after the header line in descending byte order: newest first,
// each row starting with its date and time, and the same rows in the same
// order whatever order their source gave them in. A row ends in CR LF
// outside quotes.
std::string NewestRowsFirst(std::string_view text);

// The cost column's decimal sign: a comma where ';' separates the fields,
// for the spreadsheets of the locales that want ';'.
char DecimalPoint(const CsvDialect& dialect);

// "," ";" "\t" (or "tab") and "|" as a separator; false for anything else.
bool ParseSeparator(std::string_view text, char* separator);
bool ParseEncoding(std::string_view text, TextEncoding* encoding);

}  // namespace pelko::report
