#include "agent/platform/posix/latin1.h"

#include <cstdint>

namespace pelko {

namespace {

// The length of the UTF-8 sequence led by `lead`, 0 for a byte that leads none.
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

std::string Latin1FromUtf8(const std::string& utf8) {
  std::string latin1;
  latin1.reserve(utf8.size());
  std::size_t at = 0;
  while (at < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const int length = SequenceLength(lead);
    bool wellFormed = length > 0 && at + static_cast<std::size_t>(length) <= utf8.size();
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (int i = 1; wellFormed && i < length; ++i) {
      const auto next = static_cast<unsigned char>(utf8[at + static_cast<std::size_t>(i)]);
      wellFormed = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms and surrogates are not characters either.
    if (wellFormed && length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) {
      wellFormed = false;
    }
    if (wellFormed && length == 4 && (code < 0x10000 || code > 0x10FFFF)) wellFormed = false;
    if (!wellFormed) {
      latin1 += '?';
      ++at;  // a stray byte alone; what follows is read afresh
      continue;
    }
    latin1 += code <= 0xFF ? static_cast<char>(code) : '?';
    at += static_cast<std::size_t>(length);
  }
  return latin1;
}

}  // namespace pelko
