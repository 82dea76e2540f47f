// The HTTP requests CUPS's rss notifier sends us (cups_push.h), read from a
// connection's bytes: the path each names and the answer it is due.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

// Requests one after another on one connection; GET and HEAD carry no body,
// a PUT one of a Content-Length or in chunks. No socket here: the listener
// adds what it received and answers as told.
class PushRequestReader {
 public:
  // A head, chunk size line or trailer line longer than this is garbage.
  static constexpr std::size_t kMaxHead = 16 * 1024;

  enum class Step {
    kMore,     // wait for more bytes
    kBad,      // not a request we read, or too long: drop the connection
    kGet,      // a GET or HEAD of the path: answer 404
    kPut,      // a PUT of the path, its body to come: answer 100 Continue
               // first if ExpectsContinue()
    kRefused,  // another method: answer 405 and close
    kStored,   // a PUT's body has all come: answer 201
  };

  void Add(std::string_view bytes) { in.append(bytes); }

  // What the bytes added so far hold next; *path is set with kGet and kPut.
  Step Next(std::string* path);

  bool ExpectsContinue() const { return expectContinue; }
  // The connection ends once the request just read (kGet, kStored) is answered.
  bool CloseAfter() const { return closeAfter; }
  // So much of a head is waiting that reading on would only add to it.
  bool Saturated() const { return part == Part::kHead && in.size() > 4 * kMaxHead; }

 private:
  enum class Part { kHead, kBody, kChunkSize, kChunkData, kChunkEnd, kTrailer };

  // Each reads the part it is named for; nullopt when it moved on to the
  // next part with nothing to tell.
  std::optional<Step> ReadPart(std::string* path);
  Step ReadHead(std::string* path);
  Step ReadBody();
  std::optional<Step> ReadChunkSize();
  std::optional<Step> ReadChunkData();
  std::optional<Step> ReadChunkEnd();
  std::optional<Step> ReadTrailer();
  // Drops what is left of a body or chunk; true once all of it is gone.
  bool Skip();
  // kMore while a line may still be coming, kBad once it is too long.
  Step AwaitLine() const { return in.size() <= kMaxHead ? Step::kMore : Step::kBad; }

  std::string in;
  Part part = Part::kHead;
  std::size_t remaining = 0;
  bool closeAfter = false;
  bool expectContinue = false;
};

}  // namespace pelko
