#include "agent/platform/posix/cups_push.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

#include "agent/util/coding.h"

namespace pelko {

namespace {

constexpr std::size_t kMaxClients = 256;
constexpr std::size_t kMaxHead = 16 * 1024;

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int Listen(const std::string& address, int* port) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = AF_INET;
  if (address.find(':') != std::string::npos) {
    family = AF_INET6;
    auto* six = reinterpret_cast<sockaddr_in6*>(&storage);
    six->sin6_family = AF_INET6;
    if (inet_pton(AF_INET6, address.c_str(), &six->sin6_addr) != 1) return -1;
    length = sizeof *six;
  } else {
    auto* four = reinterpret_cast<sockaddr_in*>(&storage);
    four->sin_family = AF_INET;
    if (inet_pton(AF_INET, address.c_str(), &four->sin_addr) != 1) return -1;
    length = sizeof *four;
  }
  const int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(fd, 64) != 0) {
    close(fd);
    return -1;
  }
  length = sizeof storage;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                   : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  return fd;
}

}  // namespace

CupsPushListener::CupsPushListener(std::function<void(const std::string& path)> seen)
    : seen(std::move(seen)) {}

CupsPushListener::~CupsPushListener() {
  Stop();
  for (auto& [address, listener] : listeners) close(listener.first);
  for (Client& client : clients) close(client.fd);
  if (wakeRead >= 0) close(wakeRead);
  if (wakeWrite >= 0) close(wakeWrite);
}

void CupsPushListener::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  Wake();
  if (thread.joinable()) thread.join();
}

void CupsPushListener::Wake() {
  if (wakeWrite < 0) return;
  const char byte = 1;
  // A full pipe already wakes the thread.
  [[maybe_unused]] const ssize_t written = write(wakeWrite, &byte, 1);
}

int CupsPushListener::PortFor(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex);
  if (stopping) return 0;
  auto found = listeners.find(address);
  if (found != listeners.end()) return found->second.second;
  if (wakeRead < 0) {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return 0;
    wakeRead = ends[0];
    wakeWrite = ends[1];
  }
  int port = 0;
  const int fd = Listen(address, &port);
  if (fd < 0) return 0;
  listeners[address] = {fd, port};
  if (!thread.joinable()) {
    try {
      thread = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
      // No pushes: the spooler goes on asking at every look.
      listeners.erase(address);
      close(fd);
      return 0;
    }
  } else {
    Wake();  // to poll the new socket too
  }
  return port;
}

bool CupsPushListener::Send(Client& client, const char* text) {
  const std::size_t length = std::strlen(text);
  // Answers are a few bytes on a connection that is otherwise idle.
  return send(client.fd, text, length, MSG_NOSIGNAL | MSG_DONTWAIT) ==
         static_cast<ssize_t>(length);
}

bool CupsPushListener::Serve(Client& client, std::vector<std::string>* paths) {
  using Part = Client::Part;
  for (;;) {
    switch (client.part) {
      case Part::kHead: {
        const std::size_t end = client.in.find("\r\n\r\n");
        if (end == std::string::npos) return client.in.size() <= kMaxHead;
        const std::string head = client.in.substr(0, end);
        client.in.erase(0, end + 4);
        const std::size_t lineEnd = head.find("\r\n");
        const std::string line = head.substr(0, lineEnd);
        const std::size_t space1 = line.find(' ');
        const std::size_t space2 = line.find(' ', space1 + 1);
        if (space1 == std::string::npos || space2 == std::string::npos) return false;
        const std::string method = line.substr(0, space1);
        const std::string path = line.substr(space1 + 1, space2 - space1 - 1);
        const std::string version = line.substr(space2 + 1);
        bool chunked = false;
        bool expectContinue = false;
        std::size_t length = 0;
        client.closeAfter = version != "HTTP/1.1";
        std::size_t at = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
        while (at < head.size()) {
          std::size_t next = head.find("\r\n", at);
          if (next == std::string::npos) next = head.size();
          const std::string field = head.substr(at, next - at);
          at = next + 2;
          const std::size_t colon = field.find(':');
          if (colon == std::string::npos) continue;
          const std::string name = AsciiLowered(Trim(field.substr(0, colon)));
          const std::string value = AsciiLowered(Trim(field.substr(colon + 1)));
          if (name == "content-length") {
            length = static_cast<std::size_t>(std::strtoull(value.c_str(), nullptr, 10));
          } else if (name == "transfer-encoding") {
            chunked = value.find("chunked") != std::string::npos;
          } else if (name == "expect") {
            expectContinue = value == "100-continue";
          } else if (name == "connection") {
            if (value == "close") client.closeAfter = true;
          }
        }
        if (method == "GET" || method == "HEAD") {
          paths->push_back(path);
          if (!Send(client, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")) return false;
          if (client.closeAfter) return false;
          continue;
        }
        if (method != "PUT") {
          Send(client,
               "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n"
               "Connection: close\r\n\r\n");
          return false;
        }
        paths->push_back(path);
        if (expectContinue && !Send(client, "HTTP/1.1 100 Continue\r\n\r\n")) return false;
        if (chunked) {
          client.part = Part::kChunkSize;
        } else {
          client.part = Part::kBody;
          client.remaining = length;
        }
        continue;
      }
      case Part::kBody: {
        const std::size_t take = std::min(client.remaining, client.in.size());
        client.in.erase(0, take);
        client.remaining -= take;
        if (client.remaining > 0) return true;
        if (!Send(client, "HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n")) return false;
        if (client.closeAfter) return false;
        client.part = Part::kHead;
        continue;
      }
      case Part::kChunkSize: {
        const std::size_t end = client.in.find("\r\n");
        if (end == std::string::npos) return client.in.size() <= kMaxHead;
        char* stop = nullptr;
        const std::string line = client.in.substr(0, end);
        const unsigned long long size = std::strtoull(line.c_str(), &stop, 16);
        if (stop == line.c_str()) return false;
        client.in.erase(0, end + 2);
        if (size == 0) {
          client.part = Part::kTrailer;
        } else {
          client.part = Part::kChunkData;
          client.remaining = static_cast<std::size_t>(size);
        }
        continue;
      }
      case Part::kChunkData: {
        const std::size_t take = std::min(client.remaining, client.in.size());
        client.in.erase(0, take);
        client.remaining -= take;
        if (client.remaining > 0) return true;
        client.part = Part::kChunkEnd;
        continue;
      }
      case Part::kChunkEnd: {
        if (client.in.size() < 2) return true;
        if (client.in.compare(0, 2, "\r\n") != 0) return false;
        client.in.erase(0, 2);
        client.part = Part::kChunkSize;
        continue;
      }
      case Part::kTrailer: {
        const std::size_t end = client.in.find("\r\n");
        if (end == std::string::npos) return client.in.size() <= kMaxHead;
        client.in.erase(0, end + 2);
        if (end != 0) continue;  // a trailer field
        if (!Send(client, "HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n")) return false;
        if (client.closeAfter) return false;
        client.part = Part::kHead;
        continue;
      }
    }
  }
}

void CupsPushListener::Loop() {
  std::vector<pollfd> fds;
  std::vector<std::string> paths;
  for (;;) {
    fds.clear();
    fds.push_back({wakeRead, POLLIN, 0});
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) return;
      for (auto& [address, listener] : listeners) fds.push_back({listener.first, POLLIN, 0});
    }
    for (Client& client : clients) fds.push_back({client.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;  // cannot wait: no pushes, so the spooler asks at every look
    }
    if (fds[0].revents != 0) {
      char drained[64];
      while (read(wakeRead, drained, sizeof drained) > 0) {
      }
    }
    paths.clear();
    Take(fds, &paths);
    for (const std::string& path : paths) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) return;
      }
      seen(path);
    }
  }
}

void CupsPushListener::Take(const std::vector<pollfd>& ready,
                            std::vector<std::string>* paths) {
  // ready: the wake pipe, the listening sockets, then `clients` in order.
  const std::size_t polledClients = clients.size();
  const std::size_t firstClient = ready.size() - polledClients;
  for (std::size_t index = 1; index < firstClient; ++index) {
    if ((ready[index].revents & (POLLERR | POLLNVAL)) != 0) {
      // A broken socket would wake poll() at once for ever. Without it the
      // subscriptions that push to it go unconfirmed and are asked again.
      std::lock_guard<std::mutex> lock(mutex);
      for (auto at = listeners.begin(); at != listeners.end(); ++at) {
        if (at->second.first != ready[index].fd) continue;
        close(at->second.first);
        listeners.erase(at);
        break;
      }
      continue;
    }
    if ((ready[index].revents & POLLIN) == 0) continue;
    for (;;) {
      const int fd = accept4(ready[index].fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) break;
      if (clients.size() >= kMaxClients) {
        close(fd);
        continue;
      }
      Client client;
      client.fd = fd;
      clients.push_back(std::move(client));
    }
  }
  std::vector<Client> kept;
  kept.reserve(clients.size());
  for (std::size_t i = 0; i < clients.size(); ++i) {
    Client& client = clients[i];
    // Clients accepted just now were not polled; try them anyway.
    const bool isReady = i >= polledClients || ready[firstClient + i].revents != 0;
    bool keep = true;
    if (isReady) {
      char buffer[8192];
      for (;;) {
        const ssize_t got = recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
          client.in.append(buffer, static_cast<std::size_t>(got));
          if (client.in.size() > 4 * kMaxHead && client.part == Client::Part::kHead) break;
          continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          keep = false;
        }
        break;
      }
      // What came before the peer closed is still served.
      const bool served = Serve(client, paths);
      keep = keep && served;
    }
    if (keep) {
      kept.push_back(std::move(client));
    } else {
      close(client.fd);
    }
  }
  clients.swap(kept);
}

}  // namespace pelko
