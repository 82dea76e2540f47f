#include "agent/platform/odbc/connection_text.h"

#include <algorithm>

#include "agent/util/coding.h"

namespace pelko {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

struct Attribute {
  std::string key;
  std::string value;
};

// Every "key=value" of connection, in order; a value in braces may hold
// ';' and '}}' for '}'.
std::vector<Attribute> Attributes(std::string_view connection) {
  std::vector<Attribute> all;
  std::size_t at = 0;
  while (at < connection.size()) {
    const std::size_t equals = connection.find_first_of("=;", at);
    if (equals == std::string_view::npos || connection[equals] == ';') {
      at = equals == std::string_view::npos ? connection.size() : equals + 1;
      continue;
    }
    Attribute attribute{std::string(Trimmed(connection.substr(at, equals - at))), ""};
    at = equals + 1;
    while (at < connection.size() && connection[at] == ' ') ++at;
    if (at < connection.size() && connection[at] == '{') {
      for (++at; at < connection.size(); ++at) {
        if (connection[at] == '}' && (at + 1 >= connection.size() || connection[at + 1] != '}'))
          break;
        if (connection[at] == '}') ++at;
        attribute.value += connection[at];
      }
      at = connection.find(';', at);
      at = at == std::string_view::npos ? connection.size() : at + 1;
    } else {
      const std::size_t end = std::min(connection.find(';', at), connection.size());
      attribute.value = std::string(Trimmed(connection.substr(at, end - at)));
      at = end + 1;
    }
    all.push_back(std::move(attribute));
  }
  return all;
}

// "{...}" quoting of a connection string value: "}" doubled.
std::string BracedValue(const std::string& value) {
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

}  // namespace

std::optional<std::string> ConnectionAttribute(std::string_view connection,
                                               std::initializer_list<std::string_view> keys) {
  for (Attribute& attribute : Attributes(connection)) {
    for (std::string_view key : keys) {
      if (AsciiEqualFold(attribute.key, key)) return std::move(attribute.value);
    }
  }
  return std::nullopt;
}

std::vector<std::string> DriverLogAttributes(std::string_view connection) {
  std::vector<std::string> found;
  for (const Attribute& attribute : Attributes(connection)) {
    for (std::string_view key : {"CommLog", "B3", "Debug", "B2"}) {
      if (AsciiEqualFold(attribute.key, key) && !attribute.value.empty() &&
          attribute.value != "0") {
        found.push_back(attribute.key + "=" + attribute.value);
      }
    }
  }
  return found;
}

std::string ComposeConnection(const std::string& connection, const std::string& password) {
  std::string text = connection;
  const auto add = [&text](const std::string& attribute) {
    if (!text.empty() && text.back() != ';') text += ';';
    text += attribute + ";";
  };
  // psqlODBC's names for its logs, long and short. CX, its abbreviated
  // settings, may carry both: where it is written, it decides.
  if (!ConnectionAttribute(connection, {"CommLog", "B3", "CX"})) add("CommLog=0");
  if (!ConnectionAttribute(connection, {"Debug", "B2", "CX"})) add("Debug=0");
  if (!password.empty()) add("PWD=" + BracedValue(password));
  return text;
}

}  // namespace pelko
