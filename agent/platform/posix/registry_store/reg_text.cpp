#include "agent/platform/posix/registry_store/reg_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "agent/util/coding.h"

namespace pelko::reg_text {

bool SameName(const std::string& a, const std::string& b) { return AsciiEqualFold(a, b); }

void AppendPercent(std::string* out, unsigned char c) {
  *out += '%';
  AppendHexByte(out, c, kHexUpper);
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(text[i + 1]) << 4 | HexDigitValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

static void AppendQuoted(std::string* out, const std::string& text) {
  *out += '"';
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\':
        *out += "\\\\";
        break;
      case '"':
        *out += "\\\"";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      case '\t':
        *out += "\\t";
        break;
      case 0:
        *out += "\\0";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          *out += "\\x";
          AppendHexByte(out, c, kHexLower);
        } else {
          *out += ch;
        }
    }
  }
  *out += '"';
}

// Parses a quoted text at line[*pos] == '"' and moves *pos past it. An
// escape it does not know stays as written, as a hand-typed path would mean.
static bool ParseQuoted(const std::string& line, size_t* pos, std::string* text) {
  if (*pos >= line.size() || line[*pos] != '"') return false;
  text->clear();
  for (size_t i = *pos + 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c != '\\' || i + 1 >= line.size()) {
      *text += c;
      continue;
    }
    const char e = line[++i];
    switch (e) {
      case '\\':
        *text += '\\';
        break;
      case '"':
        *text += '"';
        break;
      case 'n':
        *text += '\n';
        break;
      case 'r':
        *text += '\r';
        break;
      case 't':
        *text += '\t';
        break;
      case '0':
        *text += '\0';
        break;
      case 'x':
        if (i + 2 < line.size() && HexDigitValue(line[i + 1]) >= 0 &&
            HexDigitValue(line[i + 2]) >= 0) {
          *text += static_cast<char>(HexDigitValue(line[i + 1]) << 4 | HexDigitValue(line[i + 2]));
          i += 2;
          break;
        }
        [[fallthrough]];
      default:
        *text += '\\';
        *text += e;
    }
  }
  return false;
}

static void SkipBlanks(const std::string& line, size_t* pos) {
  while (*pos < line.size() && (line[*pos] == ' ' || line[*pos] == '\t')) ++*pos;
}

static bool StartsWithNoCase(const std::string& text, size_t pos, const char* prefix) {
  const size_t n = std::strlen(prefix);
  return text.size() - pos >= n && SameName(text.substr(pos, n), prefix);
}

static bool ParseHexNumber(const std::string& text, size_t maxDigits, uint64_t* number) {
  if (text.empty() || text.size() > maxDigits) return false;
  *number = 0;
  for (const char c : text) {
    if (HexDigitValue(c) < 0) return false;
    *number = *number << 4 | static_cast<uint64_t>(HexDigitValue(c));
  }
  return true;
}

// "01,02,ff"; an empty list is no data.
static bool ParseHexBytes(const std::string& text, std::string* data) {
  data->clear();
  size_t pos = 0;
  SkipBlanks(text, &pos);
  if (pos == text.size()) return true;
  for (;;) {
    SkipBlanks(text, &pos);
    size_t digits = 0;
    int byte = 0;
    while (pos < text.size() && HexDigitValue(text[pos]) >= 0 && digits < 2) {
      byte = byte << 4 | HexDigitValue(text[pos++]);
      ++digits;
    }
    if (digits == 0) return false;
    *data += static_cast<char>(byte);
    SkipBlanks(text, &pos);
    if (pos == text.size()) return true;
    if (text[pos++] != ',') return false;
  }
}

// The part after "Name"=, already without trailing blanks.
static bool ParseData(const std::string& text, RegistryEntry* entry) {
  size_t pos = 0;
  std::string quoted;
  uint64_t number = 0;
  if (StartsWithNoCase(text, 0, "dword:")) {
    if (!ParseHexNumber(text.substr(6), 8, &number)) return false;
    entry->type = kRegDword;
    entry->data = EncodeLittleEndian(number, 4);
    return true;
  }
  if (StartsWithNoCase(text, 0, "qword:")) {
    if (!ParseHexNumber(text.substr(6), 16, &number)) return false;
    entry->type = kRegQword;
    entry->data = EncodeLittleEndian(number, 8);
    return true;
  }
  if (StartsWithNoCase(text, 0, "hex:")) {
    entry->type = kRegBinary;
    return ParseHexBytes(text.substr(4), &entry->data);
  }
  if (StartsWithNoCase(text, 0, "hex(")) {
    const size_t close = text.find("):");
    if (close == std::string::npos || !ParseHexNumber(text.substr(4, close - 4), 8, &number)) {
      return false;
    }
    entry->type = static_cast<uint32_t>(number);
    return ParseHexBytes(text.substr(close + 2), &entry->data);
  }
  if (StartsWithNoCase(text, 0, "multi:")) {
    pos = 6;
    entry->type = kRegMultiSz;
    entry->data.clear();
    SkipBlanks(text, &pos);
    if (pos == text.size()) {
      entry->data.assign(2, '\0');
      return true;
    }
    for (;;) {
      if (!ParseQuoted(text, &pos, &quoted)) return false;
      entry->data += quoted;
      entry->data += '\0';
      SkipBlanks(text, &pos);
      if (pos == text.size()) break;
      if (text[pos++] != ',') return false;
      SkipBlanks(text, &pos);
    }
    entry->data += '\0';
    return true;
  }
  uint32_t type = kRegSz;
  if (StartsWithNoCase(text, 0, "expand:")) {
    type = kRegExpandSz;
    pos = 7;
  }
  if (!ParseQuoted(text, &pos, &quoted) || pos != text.size()) return false;
  entry->type = type;
  entry->data = quoted;
  entry->data += '\0';
  return true;
}

static bool ParseValueLine(const std::string& line, RegistryEntry* entry) {
  size_t pos = 0;
  if (line[0] == '@') {
    entry->name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, &pos, &entry->name)) {
    return false;
  }
  SkipBlanks(line, &pos);
  if (pos >= line.size() || line[pos] != '=') return false;
  ++pos;
  SkipBlanks(line, &pos);
  return ParseData(line.substr(pos), entry);
}

// Like a .reg import, a later line for the same name wins; the name keeps
// its first spelling and place.
void PutValue(std::vector<RegistryEntry>* values, RegistryEntry entry) {
  for (RegistryEntry& held : *values) {
    if (SameName(held.name, entry.name)) {
      held.type = entry.type;
      held.data = std::move(entry.data);
      return;
    }
  }
  values->push_back(std::move(entry));
}

// Calls visit(line) for every line with its blanks and CR trimmed, until
// visit returns false.
template <typename Visit>
static void ForEachLine(const std::string& text, Visit visit) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t first = start;
    size_t last = end;
    while (first < last && (text[first] == ' ' || text[first] == '\t')) ++first;
    while (last > first &&
           (text[last - 1] == ' ' || text[last - 1] == '\t' || text[last - 1] == '\r')) {
      --last;
    }
    if (last > first && !visit(text.substr(first, last - first))) return;
    start = end + 1;
  }
}

static bool ParseHeader(const std::string& line, std::string* keyPath) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  *keyPath = PercentDecode(line.substr(1, line.size() - 2));
  return true;
}

void ParseKeyFile(const std::string& text, KeyFile* file) {
  ForEachLine(text, [file](const std::string& line) {
    if (line[0] == ';' || line[0] == '#') return true;
    if (line[0] == '[') {
      if (!file->hasHeader) file->hasHeader = ParseHeader(line, &file->keyPath);
      return true;
    }
    RegistryEntry entry;
    if (ParseValueLine(line, &entry)) PutValue(&file->values, std::move(entry));
    return true;
  });
}

std::string HeaderKeyPath(const std::string& text) {
  std::string keyPath;
  ForEachLine(text, [&keyPath](const std::string& line) {
    if (line[0] == ';' || line[0] == '#') return true;
    ParseHeader(line, &keyPath);
    return false;
  });
  return keyPath;
}

std::string LastPart(const std::string& keyPath) {
  const size_t slash = keyPath.rfind('\\');
  return slash == std::string::npos ? keyPath : keyPath.substr(slash + 1);
}

static bool IsCanonicalMultiSz(const std::string& data) {
  if (data.size() < 3 || data[0] == '\0' || data[data.size() - 1] != '\0' ||
      data[data.size() - 2] != '\0') {
    return false;
  }
  return data.substr(0, data.size() - 1).find(std::string(2, '\0')) == std::string::npos;
}

static void AppendHexBytes(std::string* out, const std::string& data) {
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) *out += ',';
    AppendHexByte(out, static_cast<unsigned char>(data[i]), kHexLower);
  }
}

static void AppendData(std::string* out, const RegistryEntry& entry) {
  const std::string& data = entry.data;
  const bool terminated = !data.empty() && data.back() == '\0';
  char number[32];
  if (entry.type == kRegSz && terminated) {
    AppendQuoted(out, data.substr(0, data.size() - 1));
  } else if (entry.type == kRegExpandSz && terminated) {
    *out += "expand:";
    AppendQuoted(out, data.substr(0, data.size() - 1));
  } else if (entry.type == kRegDword && data.size() == 4) {
    std::snprintf(number, sizeof number, "dword:%08llx",
                  static_cast<unsigned long long>(DecodeLittleEndian(data)));
    *out += number;
  } else if (entry.type == kRegQword && data.size() == 8) {
    std::snprintf(number, sizeof number, "qword:%016llx",
                  static_cast<unsigned long long>(DecodeLittleEndian(data)));
    *out += number;
  } else if (entry.type == kRegMultiSz && data == std::string(2, '\0')) {
    *out += "multi:";
  } else if (entry.type == kRegMultiSz && IsCanonicalMultiSz(data)) {
    *out += "multi:";
    size_t start = 0;
    while (data[start] != '\0') {
      const size_t end = data.find('\0', start);
      if (start > 0) *out += ',';
      AppendQuoted(out, data.substr(start, end - start));
      start = end + 1;
    }
  } else {
    if (entry.type == kRegBinary) {
      *out += "hex:";
    } else {
      std::snprintf(number, sizeof number, "hex(%x):", entry.type);
      *out += number;
    }
    AppendHexBytes(out, data);
  }
}

static std::string HeaderLine(const std::string& keyPath) {
  std::string line = "[";
  for (const char ch : keyPath) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '%' || c < 0x20 || c == 0x7f) {
      AppendPercent(&line, c);
    } else {
      line += ch;
    }
  }
  return line + "]\n";
}

std::string FormatKeyFile(const KeyFile& file) {
  std::string text = "; Pelko registry key: one value a line, rewritten whole on change\n";
  text += HeaderLine(file.keyPath);
  for (const RegistryEntry& entry : file.values) {
    if (entry.name.empty()) {
      text += '@';
    } else {
      AppendQuoted(&text, entry.name);
    }
    text += '=';
    AppendData(&text, entry);
    text += '\n';
  }
  return text;
}

}  // namespace pelko::reg_text
