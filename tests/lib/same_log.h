// Compares two log files piece by piece (the head, each entry, the tail), so
// that a failure names the first piece that differs and where, instead of
// printing two whole logs on one line each.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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

inline std::string Name(std::size_t index, std::size_t count) {
  if (index == 0) return "the head";
  if (index + 1 == count) return "the tail";
  if (index % 2 == 0) return "the text after entry " + std::to_string(index / 2);
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
  failure << "first difference: " << Name(index, std::max(got.size(), want.size())) << ", at "
          << column << "\n  actual:   " << (index < got.size() ? a : "(none)")
          << "\n  expected: " << (index < want.size() ? b : "(none)") << "\n            "
          << std::string(column, ' ') << "^";
  return failure;
}

}  // namespace pelko
