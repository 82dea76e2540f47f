#include "agent/util/unicode.h"

namespace pelko {

namespace {

// windows-1252's 0x80..0x9F; 0 where the code page leaves a byte undefined
// (kept as the C1 control of the same number, as Windows does).
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

char32_t NextUtf8(std::string_view text, std::size_t* at, bool* valid) {
  const auto lead = static_cast<unsigned char>(text[*at]);
  int extra = lead < 0x80         ? 0
              : (lead >> 5) == 6  ? 1
              : (lead >> 4) == 14 ? 2
              : (lead >> 3) == 30 ? 3
                                  : -1;
  if (extra == 0) {
    ++*at;
    return lead;
  }
  char32_t c = extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
  bool ok = extra > 0 && *at + extra < text.size();
  for (int i = 1; ok && i <= extra; ++i) {
    const auto next = static_cast<unsigned char>(text[*at + i]);
    ok = (next & 0xC0) == 0x80;
    c = (c << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  static constexpr char32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
  ok = ok && c >= kLeast[extra] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
  if (!ok) {
    *valid = false;
    ++*at;
    return 0xFFFD;
  }
  *at += extra + 1;
  return c;
}

bool IsValidUtf8(std::string_view bytes) {
  bool valid = true;
  for (std::size_t at = 0; at < bytes.size() && valid;) NextUtf8(bytes, &at, &valid);
  return valid;
}

std::string LogTextToUtf8(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : Windows1252ToUtf8(bytes);
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char byte : bytes) AppendUtf8(out, Windows1252Char(static_cast<unsigned char>(byte)));
  return out;
}

std::string Utf8ToWindows1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    bool valid = true;
    const char32_t c = NextUtf8(utf8, &at, &valid);
    char byte = '?';
    if (valid && (c < 0x80 || (c >= 0xA0 && c <= 0xFF))) {
      byte = static_cast<char>(c);
    } else if (valid) {
      for (unsigned i = 0; i < 32; ++i) {
        // The five bytes the code page leaves undefined stand for their C1 control.
        if (kHighControls[i] == c || (kHighControls[i] == 0 && c == 0x80 + i)) {
          byte = static_cast<char>(0x80 + i);
        }
      }
    }
    out += byte;
  }
  return out;
}

std::string CleanUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const std::size_t from = at;
    bool valid = true;
    NextUtf8(utf8, &at, &valid);
    if (valid) {
      out.append(utf8.substr(from, at - from));
    } else {
      out += '?';
    }
  }
  return out;
}

std::string Utf8ToLogText(std::string_view utf8, bool logUtf8) {
  return logUtf8 ? CleanUtf8(utf8) : Utf8ToWindows1252(utf8);
}

std::string LogTextBetween(std::string_view text, bool fromUtf8, bool toUtf8) {
  if (fromUtf8 == toUtf8) return std::string(text);
  return toUtf8 ? Windows1252ToUtf8(text) : Utf8ToWindows1252(text);
}

char32_t Windows1252Char(unsigned char byte) {
  const char32_t high = byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : 0;
  return high != 0 ? high : byte;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  bool valid = true;
  for (std::size_t at = 0; at < utf8.size();) {
    const char32_t c = NextUtf8(utf8, &at, &valid);
    if (c < 0x10000) {
      out += static_cast<char16_t>(c);
    } else {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string TruncateUtf8(std::string_view utf8, std::size_t maxUnits) {
  std::size_t units = 0;
  bool valid = true;
  std::size_t at = 0;
  while (at < utf8.size()) {
    std::size_t next = at;
    const char32_t c = NextUtf8(utf8, &next, &valid);
    units += c < 0x10000 ? 1 : 2;
    if (units > maxUnits) break;
    at = next;
  }
  return std::string(utf8.substr(0, at));
}

}  // namespace pelko
