// The receiving end of CUPS's own "rss" notifier. Subscribed with a
// recipient rss://<our address>:<port>/<token>.rss, a scheduler starts the
// notifier, which fetches the feed once (GET) and then uploads it anew (PUT)
// for every event: a push that tells the spooler which queue changed. No
// thread of its own: whoever polls drains it, so it costs nothing while
// nothing happens.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pelko {

class CupsPushListener {
 public:
  CupsPushListener() = default;
  ~CupsPushListener();
  CupsPushListener(const CupsPushListener&) = delete;
  CupsPushListener& operator=(const CupsPushListener&) = delete;

  // The port of the listener on this numeric address, started on first use;
  // 0 when none can be had.
  int PortFor(const std::string& address);

  // Takes in, without waiting, whatever has arrived, answers every complete
  // request and reports its path. False when another thread is draining.
  bool Drain(const std::function<void(const std::string& path)>& seen);

 private:
  struct Client {
    int fd = -1;
    std::string in;
    enum class Part { kHead, kBody, kChunkSize, kChunkData, kChunkEnd, kTrailer } part =
        Part::kHead;
    std::size_t remaining = 0;
    bool closeAfter = false;
  };
  // False when the client is to be dropped.
  bool Serve(Client& client, const std::function<void(const std::string&)>& seen);
  static bool Send(Client& client, const char* text);

  std::mutex mutex;
  std::map<std::string, std::pair<int, int>> listeners;  // address -> fd, port
  std::vector<Client> clients;
};

}  // namespace pelko
