// The push listener's request reader on made-up bytes: what CUPS's rss
// notifier sends, whole or in pieces, and what is to drop the connection.
#include "agent/platform/posix/cups/push_request.h"

#include <gtest/gtest.h>

#include <string>

namespace pelko {
namespace {

using Step = PushRequestReader::Step;

// The steps the reader tells until it wants more bytes or gives up, as
// "get:/path put:/path stored refused bad".
std::string Drain(PushRequestReader& reader) {
  std::string told;
  for (;;) {
    std::string path;
    const Step step = reader.Next(&path);
    if (step == Step::kMore) return told;
    if (!told.empty()) told += " ";
    switch (step) {
      case Step::kGet:
        told += "get:" + path;
        break;
      case Step::kPut:
        told += "put:" + path;
        break;
      case Step::kStored:
        told += "stored";
        break;
      case Step::kRefused:
        return told + "refused";
      default:
        return told + "bad";
    }
  }
}

std::string ReadWhole(const std::string& bytes) {
  PushRequestReader reader;
  reader.Add(bytes);
  return Drain(reader);
}

// Fed one byte at a time, as a slow connection may give them.
std::string ReadBytewise(const std::string& bytes) {
  PushRequestReader reader;
  std::string told;
  for (const char c : bytes) {
    reader.Add(std::string_view(&c, 1));
    const std::string now = Drain(reader);
    if (!now.empty()) told += (told.empty() ? "" : " ") + now;
  }
  return told;
}

const std::string kFeedGet = "GET /pelko-1.rss HTTP/1.1\r\nHost: x\r\n\r\n";
const std::string kLengthPut = "PUT /pelko-2.rss HTTP/1.1\r\nContent-Length: 5\r\n\r\n<rss>";
const std::string kChunkedPut =
    "PUT /pelko-3.rss HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
    "3\r\n<rs\r\n2;ext=1\r\ns>\r\n0\r\nX-Trailer: 1\r\n\r\n";

TEST(PushRequestReader, ReadsTheNotifiersRequestsOneAfterAnother) {
  const std::string all = kFeedGet + kLengthPut + kChunkedPut + kFeedGet;
  const std::string expected =
      "get:/pelko-1.rss put:/pelko-2.rss stored put:/pelko-3.rss stored get:/pelko-1.rss";
  EXPECT_EQ(ReadWhole(all), expected);
  EXPECT_EQ(ReadBytewise(all), expected);
}

TEST(PushRequestReader, ToldThePathBeforeTheBodyAndStoredOnlyAfterAllOfIt) {
  PushRequestReader reader;
  reader.Add("PUT /pelko-4.rss HTTP/1.1\r\nexpect: 100-Continue\r\ncontent-length: 10\r\n\r\n");
  EXPECT_EQ(Drain(reader), "put:/pelko-4.rss");
  EXPECT_TRUE(reader.ExpectsContinue());
  reader.Add("12345");
  EXPECT_EQ(Drain(reader), "");
  reader.Add("67890" + kFeedGet);
  EXPECT_EQ(Drain(reader), "stored get:/pelko-1.rss");
}

TEST(PushRequestReader, ClosesAfterAnOldVersionOrWhenAsked) {
  PushRequestReader reader;
  reader.Add(kFeedGet);
  EXPECT_EQ(Drain(reader), "get:/pelko-1.rss");
  EXPECT_FALSE(reader.CloseAfter());
  reader.Add("GET /a HTTP/1.0\r\n\r\n");
  EXPECT_EQ(Drain(reader), "get:/a");
  EXPECT_TRUE(reader.CloseAfter());
  reader.Add("GET /b HTTP/1.1\r\nConnection:  Close \r\n\r\n");
  EXPECT_EQ(Drain(reader), "get:/b");
  EXPECT_TRUE(reader.CloseAfter());
}

TEST(PushRequestReader, GarbageAndOversizedRequestsDropTheConnection) {
  EXPECT_EQ(ReadWhole("POST /x HTTP/1.1\r\n\r\n"), "refused");
  EXPECT_EQ(ReadWhole("hello\r\n\r\n"), "bad");
  EXPECT_EQ(ReadWhole(kChunkedPut.substr(0, kChunkedPut.find("3\r\n")) + "zz\r\n"),
            "put:/pelko-3.rss bad");
  EXPECT_EQ(ReadWhole(kChunkedPut.substr(0, kChunkedPut.find("3\r\n")) + "3\r\nabcde"),
            "put:/pelko-3.rss bad");

  // A head that never ends is given up once it is too long, not kept.
  PushRequestReader endless;
  endless.Add("GET /" + std::string(PushRequestReader::kMaxHead - 5, 'a'));
  EXPECT_EQ(Drain(endless), "");
  EXPECT_FALSE(endless.Saturated());
  endless.Add("aa");
  EXPECT_EQ(Drain(endless), "bad");
  PushRequestReader flooded;
  flooded.Add(std::string(4 * PushRequestReader::kMaxHead + 1, 'a'));
  EXPECT_TRUE(flooded.Saturated());
}

TEST(PushRequestReader, ARequestLineWithoutPathIsGarbage) {
  EXPECT_EQ(ReadWhole("GET HTTP/1.1\r\n\r\n"), "bad");
  EXPECT_EQ(ReadWhole("PUT\r\nContent-Length: 0\r\n\r\n"), "bad");
  EXPECT_EQ(ReadBytewise("GET HTTP/1.1\r\n\r\n"), "bad");
}

}  // namespace
}  // namespace pelko
