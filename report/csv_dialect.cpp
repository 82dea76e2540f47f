#include "report/csv_dialect.h"

#include "agent/util/coding.h"

namespace pelko::report {

namespace {

// U+20AC and the rest of 0x80..0x9F; 0 where the code page defines nothing.
constexpr char16_t kHigh[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendQuoted(std::string& out, std::string_view field) {
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

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
      field.assign(rows.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i));
      i = end == std::string_view::npos ? rows.size() : end;
    }
    if (quoted || field.find(separator) != std::string::npos) {
      AppendQuoted(out, field);
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

std::string Utf8FromWindows1252(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else if (b < 0xA0) {
      AppendUtf8(out, kHigh[b - 0x80] != 0 ? kHigh[b - 0x80] : b);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

std::string InDialect(std::string_view rows, const CsvDialect& dialect, bool first) {
  std::string out = WithSeparator(rows, dialect.separator);
  if (dialect.encoding == TextEncoding::kWindows1252) return out;
  out = Utf8FromWindows1252(out);
  if (first) out.insert(0, kUtf8Bom);
  return out;
}

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
