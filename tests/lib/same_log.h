// Compares two log files piece by piece (the head, each entry, the Total
// entry, the tail), so that a failure names the first piece that differs and
// where, instead of printing two whole logs on one line each.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <concepts>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace pelko {

namespace same_log_detail {

inline std::vector<std::string> Pieces(const std::string& log) {
  static const std::string kOpen = "<entry>", kClose = "</entry>";
  std::vector<std::string> pieces;
  std::size_t at = 0;
  for (;;) {
    const std::size_t open = log.find(kOpen, at);
    const std::size_t close = open == std::string::npos ? open : log.find(kClose, open);
    if (close == std::string::npos) break;
    pieces.push_back(log.substr(at, open - at));  // the head, or what lies between entries
    pieces.push_back(log.substr(open, close + kClose.size() - open));
    at = close + kClose.size();
  }
  pieces.push_back(log.substr(at));
  return pieces;
}

inline bool IsTotal(const std::string& piece) {
  return piece.starts_with("<entry><user>Total</user>");
}

// A line end after "</log>" or a windows-1252 letter would not show, or
// would move the caret off the difference: every byte a terminal does not
// print as one character is written as \xNN.
inline std::string Shown(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      shown += c;
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += escape;
    }
  }
  return shown;
}

// Named from the longer log, so that a piece only one of them has is named.
inline std::string Name(std::size_t index, const std::vector<std::string>& longer,
                        bool bothTotals) {
  if (index == 0) return "the head";
  if (index + 1 == longer.size()) return "the tail";
  if (index % 2 == 0) return "the text after entry " + std::to_string(index / 2);
  if (bothTotals) return "the Total entry";
  return "entry " + std::to_string(index / 2 + 1);
}

}  // namespace same_log_detail

inline ::testing::AssertionResult SameLog(const std::string& actual, const std::string& expected) {
  using namespace same_log_detail;
  const std::vector<std::string> got = Pieces(actual), want = Pieces(expected);
  const std::size_t common = std::min(got.size(), want.size());
  std::size_t index = 0;
  while (index < common && got[index] == want[index]) ++index;
  if (index == common && got.size() == want.size()) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  failure << "the log has " << got.size() / 2 << " entries, " << want.size() / 2 << " expected\n";
  const std::string& a = index < got.size() ? got[index] : std::string();
  const std::string& b = index < want.size() ? want[index] : std::string();
  std::size_t column = 0;
  while (column < std::min(a.size(), b.size()) && a[column] == b[column]) ++column;
  const auto& longer = got.size() > want.size() ? got : want;
  failure << "first difference: " << Name(index, longer, IsTotal(a) && IsTotal(b)) << ", at byte "
          << column << "\n  actual:   " << (index < got.size() ? Shown(a) : "(none)")
          << "\n  expected: " << (index < want.size() ? Shown(b) : "(none)") << "\n            "
          << std::string(Shown(a.substr(0, column)).size(), ' ') << "^";
  return failure;
}

// For a file that may be missing: no file is never the expected log. A
// template, so that a literal still picks the overload above.
template <typename Optional>
requires(std::same_as<Optional, std::optional<std::string>>)::testing::AssertionResult
    SameLog(const Optional& actual, const std::string& expected) {
  if (!actual) {
    return ::testing::AssertionFailure()
           << "there is no log file\n  expected: " << same_log_detail::Shown(expected);
  }
  return SameLog(*actual, expected);
}

}  // namespace pelko
