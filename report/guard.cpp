#include "report/guard.h"

#include "agent/util/coding.h"
#include "agent/util/unicode.h"

namespace pelko::report {

namespace {

// Spreadsheets skip leading spaces and quotes before they look for a formula.
bool RunsAsFormula(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \"");
  return first != std::string_view::npos &&
         std::string_view("=+-@\t\r").find(text[first]) != std::string_view::npos;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

void AppendEscapes(std::string& out, std::string_view bytes) {
  for (const char b : bytes) {
    out += "\\x";
    AppendHexByte(&out, static_cast<unsigned char>(b), kHexUpper);
  }
}

}  // namespace

void AppendQuotedField(std::string& out, std::string_view field) {
  out += '"';
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendCsvCell(std::string& out, std::string_view text) {
  std::string guarded = RunsAsFormula(text) ? "'" : "";
  guarded += text;
  if (guarded.find_first_of(",\"\r\n") == std::string::npos) {
    out += guarded;
  } else {
    AppendQuotedField(out, guarded);
  }
}

std::string Recoded(std::string text, TextEncoding from, TextEncoding to) {
  if (from == to) return text;
  return to == TextEncoding::kUtf8 ? Windows1252ToUtf8(text) : Utf8ToWindows1252(text);
}

std::string ShownText(std::string_view text, TextEncoding encoding) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    bool valid = true;
    const char32_t c = encoding == TextEncoding::kUtf8
                           ? NextUtf8(text, &at, &valid)
                           : Windows1252Char(static_cast<unsigned char>(text[at++]));
    const std::string_view character = text.substr(start, at - start);
    if (valid && !IsControl(c)) {
      out += character;
    } else {
      AppendEscapes(out, character);
    }
  }
  return out;
}

}  // namespace pelko::report
