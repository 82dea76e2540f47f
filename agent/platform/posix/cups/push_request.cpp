// Reading the rss notifier's HTTP requests from the bytes of a connection.
#include "agent/platform/posix/cups/push_request.h"

#include <algorithm>
#include <cstdlib>

#include "agent/util/coding.h"

namespace pelko {

namespace {

// What a request's head says that matters here.
struct Head {
  std::string method;
  std::string path;
  std::size_t length = 0;
  bool chunked = false;
  bool expectContinue = false;
  bool closeAfter = false;
};

// "METHOD path version"; false without the two spaces.
bool ParseRequestLine(const std::string& line, Head* head) {
  const std::size_t space1 = line.find(' ');
  const std::size_t space2 = line.find(' ', space1 + 1);
  if (space1 == std::string::npos || space2 == std::string::npos) return false;
  head->method = line.substr(0, space1);
  head->path = line.substr(space1 + 1, space2 - space1 - 1);
  head->closeAfter = line.substr(space2 + 1) != "HTTP/1.1";
  return true;
}

void ParseField(const std::string& field, Head* head) {
  const std::size_t colon = field.find(':');
  if (colon == std::string::npos) return;
  const std::string name = AsciiLowered(TrimBlanks(field.substr(0, colon)));
  const std::string value = AsciiLowered(TrimBlanks(field.substr(colon + 1)));
  if (name == "content-length") {
    head->length = static_cast<std::size_t>(std::strtoull(value.c_str(), nullptr, 10));
  } else if (name == "transfer-encoding") {
    head->chunked = value.find("chunked") != std::string::npos;
  } else if (name == "expect") {
    head->expectContinue = value == "100-continue";
  } else if (name == "connection") {
    if (value == "close") head->closeAfter = true;
  }
}

// The head without its closing blank line.
bool ParseHead(const std::string& text, Head* head) {
  const std::size_t lineEnd = text.find("\r\n");
  if (!ParseRequestLine(text.substr(0, lineEnd), head)) return false;
  std::size_t at = lineEnd == std::string::npos ? text.size() : lineEnd + 2;
  while (at < text.size()) {
    std::size_t next = text.find("\r\n", at);
    if (next == std::string::npos) next = text.size();
    ParseField(text.substr(at, next - at), head);
    at = next + 2;
  }
  return true;
}

}  // namespace

PushRequestReader::Step PushRequestReader::Next(std::string* path) {
  for (;;) {
    if (const std::optional<Step> step = ReadPart(path)) return *step;
  }
}

std::optional<PushRequestReader::Step> PushRequestReader::ReadPart(std::string* path) {
  switch (part) {
    case Part::kHead:
      return ReadHead(path);
    case Part::kBody:
      return ReadBody();
    case Part::kChunkSize:
      return ReadChunkSize();
    case Part::kChunkData:
      return ReadChunkData();
    case Part::kChunkEnd:
      return ReadChunkEnd();
    case Part::kTrailer:
      return ReadTrailer();
  }
  return Step::kBad;
}

PushRequestReader::Step PushRequestReader::ReadHead(std::string* path) {
  const std::size_t end = in.find("\r\n\r\n");
  if (end == std::string::npos) return AwaitLine();
  Head head;
  const bool parsed = ParseHead(in.substr(0, end), &head);
  in.erase(0, end + 4);
  if (!parsed) return Step::kBad;
  closeAfter = head.closeAfter;
  if (head.method == "GET" || head.method == "HEAD") {
    *path = head.path;
    return Step::kGet;
  }
  if (head.method != "PUT") return Step::kRefused;
  *path = head.path;
  expectContinue = head.expectContinue;
  if (head.chunked) {
    part = Part::kChunkSize;
  } else {
    part = Part::kBody;
    remaining = head.length;
  }
  return Step::kPut;
}

bool PushRequestReader::Skip() {
  const std::size_t take = std::min(remaining, in.size());
  in.erase(0, take);
  remaining -= take;
  return remaining == 0;
}

PushRequestReader::Step PushRequestReader::ReadBody() {
  if (!Skip()) return Step::kMore;
  part = Part::kHead;
  return Step::kStored;
}

std::optional<PushRequestReader::Step> PushRequestReader::ReadChunkSize() {
  const std::size_t end = in.find("\r\n");
  if (end == std::string::npos) return AwaitLine();
  char* stop = nullptr;
  const std::string line = in.substr(0, end);
  const unsigned long long size = std::strtoull(line.c_str(), &stop, 16);
  if (stop == line.c_str()) return Step::kBad;
  in.erase(0, end + 2);
  if (size == 0) {
    part = Part::kTrailer;
  } else {
    part = Part::kChunkData;
    remaining = static_cast<std::size_t>(size);
  }
  return std::nullopt;
}

std::optional<PushRequestReader::Step> PushRequestReader::ReadChunkData() {
  if (!Skip()) return Step::kMore;
  part = Part::kChunkEnd;
  return std::nullopt;
}

std::optional<PushRequestReader::Step> PushRequestReader::ReadChunkEnd() {
  if (in.size() < 2) return Step::kMore;
  if (in.compare(0, 2, "\r\n") != 0) return Step::kBad;
  in.erase(0, 2);
  part = Part::kChunkSize;
  return std::nullopt;
}

std::optional<PushRequestReader::Step> PushRequestReader::ReadTrailer() {
  const std::size_t end = in.find("\r\n");
  if (end == std::string::npos) return AwaitLine();
  in.erase(0, end + 2);
  if (end != 0) return std::nullopt;  // a trailer field
  part = Part::kHead;
  return Step::kStored;
}

}  // namespace pelko
