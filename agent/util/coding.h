// Byte helpers written once: ASCII case folding (never the locale's: names
// are ANSI bytes, and only A-Z fold), hex digits, little-endian numbers as
// the registry stores them, two-digit numbers, and trimming blanks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelko {

inline constexpr char kHexLower[] = "0123456789abcdef";
inline constexpr char kHexUpper[] = "0123456789ABCDEF";

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
inline std::string AsciiLowered(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}
inline std::string AsciiUppered(std::string text) {
  for (char& c : text) c = AsciiUpper(c);
  return text;
}
// Equal but for the case of ASCII letters.
inline bool AsciiEqualFold(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// 64-bit FNV-1a of bytes: a stable short name for a long one, not a
// defence against a chosen collision.
inline uint64_t Fnv1a64(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ULL;
  for (const unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

// The value of a hex digit of either case; -1 for any other byte.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Two hex digits for one byte, high nibble first, from kHexLower or kHexUpper.
inline void AppendHexByte(std::string* out, unsigned char byte, const char* digits) {
  *out += digits[byte >> 4];
  *out += digits[byte & 15];
}

// The first `bytes` bytes of `data`, least significant first.
inline uint64_t DecodeLittleEndian(const uint8_t* data, std::size_t bytes) {
  uint64_t number = 0;
  for (std::size_t i = bytes; i-- > 0;) number = number << 8 | data[i];
  return number;
}
inline uint64_t DecodeLittleEndian(std::string_view data) {
  return DecodeLittleEndian(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}
inline uint32_t DecodeFixed32(const uint8_t* data) {
  return static_cast<uint32_t>(DecodeLittleEndian(data, 4));
}
inline std::string EncodeLittleEndian(uint64_t number, std::size_t bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes; ++i) out += static_cast<char>(number >> (8 * i) & 0xFF);
  return out;
}

// A number of 0 to 99 as two digits, as dates and times are written.
inline void AppendTwoDigits(std::string& out, int value) {
  if (value < 10) out += '0';
  out += std::to_string(value);
}

// Without leading and trailing spaces and tabs.
inline std::string TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::string();
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

}  // namespace pelko
