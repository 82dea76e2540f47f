// The receiving end of CUPS's own "rss" notifier. Subscribed with a
// recipient rss://<our address>:<port>/<token>.rss, a scheduler starts the
// notifier, which fetches the feed once (GET) and then uploads it anew (PUT)
// for every event: a push that tells the spooler which queue changed. One
// thread, started with the first listening socket, waits in poll() for
// pushes, so it costs nothing while nothing happens and the watchers of
// idle queues can sleep until it wakes them.
#pragma once

#include <poll.h>

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/platform/posix/cups/push_request.h"

namespace pelko {

class CupsPushListener {
 public:
  // `seen` gets the path of every request, on the listener's thread and
  // with no lock of the listener held.
  explicit CupsPushListener(std::function<void(const std::string& path)> seen);
  ~CupsPushListener();
  CupsPushListener(const CupsPushListener&) = delete;
  CupsPushListener& operator=(const CupsPushListener&) = delete;

  // The port of the listener on this numeric address, started on first use;
  // 0 when none can be had.
  int PortFor(const std::string& address);

  // Ends the thread; `seen` is not called after this returns. Also done by
  // the destructor.
  void Stop();

 private:
  struct Client {
    int fd = -1;
    PushRequestReader reader;
  };
  void Loop();
  // Accepts, reads and answers what poll() found ready; adds the paths of
  // complete requests to `paths`.
  void Take(const std::vector<pollfd>& ready, std::vector<std::string>* paths);
  // Closes a listening socket that broke.
  void DropListener(int fd);
  void Accept(int listening);
  // Reads what the client sent and answers it; false when it is to be dropped.
  static bool Read(Client& client, std::vector<std::string>* paths);
  // Answers what the client's reader holds, adding the paths to `paths`;
  // false when the client is to be dropped.
  static bool Serve(Client& client, std::vector<std::string>* paths);
  static bool Send(Client& client, const char* text);
  void Wake();

  std::function<void(const std::string&)> seen;
  std::mutex mutex;                                      // the tables below and `stopping`
  std::map<std::string, std::pair<int, int>> listeners;  // address -> fd, port
  std::vector<Client> clients;                           // touched by the thread only
  int wakeRead = -1;
  int wakeWrite = -1;
  bool stopping = false;
  std::thread thread;
};

}  // namespace pelko
