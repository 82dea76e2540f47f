#include "report/csv_dialect.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "agent/util/coding.h"
#include "agent/util/unicode.h"

namespace pelko::report {

std::string WithSeparator(std::string_view rows, char separator) {
  if (separator == ',') return std::string(rows);
  std::string out;
  out.reserve(rows.size() + rows.size() / 8);
  std::size_t i = 0;
  while (i < rows.size()) {
    // One field: quoted (to its closing quote) or bare (to a comma or CR).
    std::string field;
    bool quoted = false;
    if (rows[i] == '"') {
      quoted = true;
      for (++i; i < rows.size(); ++i) {
        if (rows[i] == '"') {
          if (i + 1 < rows.size() && rows[i + 1] == '"') {
            field += '"';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          field += rows[i];
        }
      }
    } else {
      const std::size_t end = rows.find_first_of(",\r\n", i);
      field.assign(
          rows.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i));
      i = end == std::string_view::npos ? rows.size() : end;
    }
    if (quoted || field.find(separator) != std::string::npos) {
      AppendQuotedField(out, field);
    } else {
      out += field;
    }
    if (i < rows.size() && rows[i] == ',') {
      out += separator;
      ++i;
    } else {
      // The line's end as it is: CR LF.
      while (i < rows.size() && (rows[i] == '\r' || rows[i] == '\n')) out += rows[i++];
    }
  }
  return out;
}

std::string InDialect(std::string_view rows, const CsvDialect& dialect, bool first,
                      TextEncoding from) {
  std::string out = Recoded(WithSeparator(rows, dialect.separator), from, dialect.encoding);
  if (first && dialect.encoding == TextEncoding::kUtf8) out.insert(0, kUtf8Bom);
  return out;
}

std::string NewestRowsFirst(std::string_view text) {
  std::vector<std::string_view> rows;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (!quoted && text[i] == '\n') {
      rows.push_back(text.substr(start, i + 1 - start));
      start = i + 1;
    }
  }
  if (start < text.size()) rows.push_back(text.substr(start));
  if (rows.size() > 2) std::sort(rows.begin() + 1, rows.end(), std::greater<>());
  std::string out;
  out.reserve(text.size());
  for (const std::string_view row : rows) out += row;
  return out;
}

char DecimalPoint(const CsvDialect& dialect) { return dialect.separator == ';' ? ',' : '.'; }

bool ParseSeparator(std::string_view text, char* separator) {
  if (text == "tab" || text == "\\t") {
    *separator = '\t';
    return true;
  }
  if (text.size() == 1 && (text[0] == ',' || text[0] == ';' || text[0] == '\t' || text[0] == '|')) {
    *separator = text[0];
    return true;
  }
  return false;
}

bool ParseEncoding(std::string_view text, TextEncoding* encoding) {
  const std::string name = AsciiLowered(std::string(text));
  if (name == "utf-8" || name == "utf8") {
    *encoding = TextEncoding::kUtf8;
    return true;
  }
  if (name == "windows-1252" || name == "cp1252" || name == "ansi") {
    *encoding = TextEncoding::kWindows1252;
    return true;
  }
  return false;
}

}  // namespace pelko::report
