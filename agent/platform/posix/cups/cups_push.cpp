#include "agent/platform/posix/cups/cups_push.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>

namespace pelko {

namespace {

constexpr std::size_t kMaxClients = 256;
constexpr char kNotFound[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
constexpr char kNotAllowed[] =
    "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n"
    "Connection: close\r\n\r\n";
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr char kCreated[] = "HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n";

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
  return send(client.fd, text, length, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(length);
}

bool CupsPushListener::Serve(Client& client, std::vector<std::string>* paths) {
  using Step = PushRequestReader::Step;
  for (;;) {
    std::string path;
    switch (client.reader.Next(&path)) {
      case Step::kMore:
        return true;
      case Step::kBad:
        return false;
      case Step::kGet:
        paths->push_back(path);
        if (!Send(client, kNotFound) || client.reader.CloseAfter()) return false;
        break;
      case Step::kRefused:
        Send(client, kNotAllowed);
        return false;
      case Step::kPut:
        paths->push_back(path);
        if (client.reader.ExpectsContinue() && !Send(client, kContinue)) return false;
        break;
      case Step::kStored:
        if (!Send(client, kCreated) || client.reader.CloseAfter()) return false;
        break;
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

void CupsPushListener::Take(const std::vector<pollfd>& ready, std::vector<std::string>* paths) {
  // ready: the wake pipe, the listening sockets, then `clients` in order.
  const std::size_t polledClients = clients.size();
  const std::size_t firstClient = ready.size() - polledClients;
  for (std::size_t index = 1; index < firstClient; ++index) {
    if ((ready[index].revents & (POLLERR | POLLNVAL)) != 0) {
      DropListener(ready[index].fd);
    } else if ((ready[index].revents & POLLIN) != 0) {
      Accept(ready[index].fd);
    }
  }
  std::vector<Client> kept;
  kept.reserve(clients.size());
  for (std::size_t i = 0; i < clients.size(); ++i) {
    Client& client = clients[i];
    // Clients accepted just now were not polled; try them anyway.
    const bool isReady = i >= polledClients || ready[firstClient + i].revents != 0;
    if (!isReady || Read(client, paths)) {
      kept.push_back(std::move(client));
    } else {
      close(client.fd);
    }
  }
  clients.swap(kept);
}

void CupsPushListener::DropListener(int fd) {
  // A broken socket would wake poll() at once for ever. Without it the
  // subscriptions that push to it go unconfirmed and are asked again.
  std::lock_guard<std::mutex> lock(mutex);
  for (auto at = listeners.begin(); at != listeners.end(); ++at) {
    if (at->second.first != fd) continue;
    close(at->second.first);
    listeners.erase(at);
    break;
  }
}

void CupsPushListener::Accept(int listening) {
  for (;;) {
    const int fd = accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
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

bool CupsPushListener::Read(Client& client, std::vector<std::string>* paths) {
  bool open = true;
  char buffer[8192];
  for (;;) {
    const ssize_t got = recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got > 0) {
      client.reader.Add(std::string_view(buffer, static_cast<std::size_t>(got)));
      if (client.reader.Saturated()) break;
      continue;
    }
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) open = false;
    break;
  }
  // What came before the peer closed is still served.
  const bool served = Serve(client, paths);
  return open && served;
}

}  // namespace pelko
