#include "agent/platform/posix/cups_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <thread>

#include "agent/util/coding.h"

namespace pelko {

namespace {

using SteadyClock = std::chrono::steady_clock;

// An idle connection older than this is not trusted any more: libcups would
// reconnect it with a wait of its own that no budget bounds.
constexpr auto kIdleLimit = std::chrono::seconds(5);
constexpr auto kResolvedFor = std::chrono::seconds(60);
constexpr auto kUnresolvedFor = std::chrono::seconds(5);
constexpr std::size_t kMaxIdlePerServer = 64;

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

// "host", "host:port", "[v6]", "[v6]:port" or "/socket".
bool ParseServer(const std::string& text, CupsServer* server) {
  if (text.empty()) return false;
  if (text.front() == '/') {
    server->host = text;
    server->port = 0;
    return true;
  }
  std::string host = text;
  std::string port;
  if (host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string::npos) return false;
    const std::string rest = host.substr(close + 1);
    host = host.substr(1, close - 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
    }
  } else if (const std::size_t colon = host.find(':'); colon != std::string::npos) {
    if (host.find(':', colon + 1) != std::string::npos) {
      // A bare IPv6 address.
    } else {
      port = host.substr(colon + 1);
      host = host.substr(0, colon);
    }
  }
  if (host.empty()) return false;
  for (const char c : host) {
    const auto u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == ':' || u >= 0x80)) {
      return false;
    }
  }
  server->host = host;
  if (port.empty()) {
    server->port = ippPort();
    return true;
  }
  if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      })) {
    return false;
  }
  server->port = std::stoi(port);
  return server->port > 0 && server->port < 65536;
}

int OnTimeout(http_t*, void* data);


std::string LocalAddressOf(http_t* http) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(httpGetFd(http), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return std::string();
  }
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr, text,
              sizeof text);
  }
  return text;
}

}  // namespace

std::string ThisComputerName() {
  std::string name = HostName();
  name = name.substr(0, name.find('.'));
  if (name.size() > 15) name.resize(15);
  return AsciiUppered(name);
}

bool ServerForMachine(const std::string& machine, CupsServer* server) {
  const std::string host = HostName();
  if (machine.empty() || AsciiEqualFold(machine, ThisComputerName()) ||
      AsciiEqualFold(machine, host) ||
      AsciiEqualFold(machine, host.substr(0, host.find('.')))) {
    const char* configured = cupsServer();
    return ParseServer(configured != nullptr ? configured : "localhost", server) ||
           ParseServer("localhost", server);
  }
  // A socket path names the default server only.
  return machine.find('/') == std::string::npos && ParseServer(machine, server);
}

bool IsQueueName(const std::string& queue) {
  if (queue.empty() || queue.size() > 127) return false;
  for (const char c : queue) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || u == 0x7F || c == '/' || c == '\\' || c == '#' || c == '\'' ||
        c == '"') {
      return false;
    }
  }
  return true;
}

std::string PrinterUri(const CupsServer& server, const std::string& queue) {
  char uri[1024];
  if (server.IsSocket()) {
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                     "/printers/%s", queue.c_str());
  } else {
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr,
                     server.host.c_str(), server.port, "/printers/%s", queue.c_str());
  }
  return uri;
}

ipp_t* NewRequest(ipp_op_t operation, const std::string& printerUri) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               printerUri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

struct CupsClient::Connection {
  http_t* http = nullptr;
  SteadyClock::time_point lastUsed;
};

// A name lookup under way on a helper thread of its own, so that a caller
// can stop waiting for it; the answer is kept for the next caller.
struct CupsClient::Lookup {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  http_addrlist_t* addresses = nullptr;
};

namespace {

int OnTimeout(http_t*, void* data) {
  // Called whenever a wait of libcups has lasted the timeout set; 0 ends it.
  auto* deadline = static_cast<std::pair<SteadyClock::time_point, bool*>*>(data);
  if (SteadyClock::now() < deadline->first) return 1;
  *deadline->second = true;
  return 0;
}

}  // namespace

namespace {

// One IPP request and its answer on an open connection, with libcups's
// HTTP layer only: cupsDoRequest would wait a fixed second for a "100
// Continue", reconnect with a wait of its own or ask for a password, none of
// which a deadline bounds. Consumes request; nullptr on failure, *status
// telling why.
ipp_t* Exchange(const CupsServer& server, http_t* http, ipp_t* request, const char* resource,
                ipp_status_t* status, bool* reusable) {
  std::unique_ptr<ipp_t, decltype(&ippDelete)> sent(request, &ippDelete);
  *status = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
  // On the local socket the scheduler takes our word for who we are only
  // when it can check it against the socket's peer.
  if (server.IsSocket()) httpSetAuthString(http, "PeerCred", cupsUser());
  httpSetLength(http, ippLength(request));
  if (httpPost(http, resource) != 0) return nullptr;
  ippSetState(request, IPP_STATE_IDLE);
  for (ipp_state_t state = IPP_STATE_IDLE; state != IPP_STATE_DATA;) {
    state = ippWrite(http, request);
    if (state == IPP_STATE_ERROR) return nullptr;
  }
  if (httpFlushWrite(http) < 0) return nullptr;

  http_status_t answer = HTTP_STATUS_CONTINUE;
  while (answer == HTTP_STATUS_CONTINUE) answer = httpUpdate(http);
  if (answer != HTTP_STATUS_OK) {
    switch (answer) {
      case HTTP_STATUS_UNAUTHORIZED:
        *status = IPP_STATUS_ERROR_NOT_AUTHENTICATED;
        break;
      case HTTP_STATUS_FORBIDDEN:
        *status = IPP_STATUS_ERROR_FORBIDDEN;
        break;
      case HTTP_STATUS_NOT_FOUND:
        *status = IPP_STATUS_ERROR_NOT_FOUND;
        break;
      default:
        break;
    }
    return nullptr;
  }
  std::unique_ptr<ipp_t, decltype(&ippDelete)> response(ippNew(), &ippDelete);
  for (ipp_state_t state = IPP_STATE_IDLE; state != IPP_STATE_DATA;) {
    state = ippRead(http, response.get());
    if (state == IPP_STATE_ERROR) return nullptr;
  }
  const char* connectionField = httpGetField(http, HTTP_FIELD_CONNECTION);
  *reusable = connectionField == nullptr || strcasecmp(connectionField, "close") != 0;
  *status = ippGetStatusCode(response.get());
  return response.release();
}

}  // namespace

CupsClient& CupsClient::Shared() {
  static CupsClient client;
  return client;
}

CupsClient::~CupsClient() {
  for (auto& [key, connections] : idle) {
    for (Connection* connection : connections) {
      httpClose(connection->http);
      delete connection;
    }
  }
  for (auto& [key, entry] : resolved) httpAddrFreeList(entry.addresses);
  // Lookups still running own their results and free nothing of ours.
  for (auto& [key, lookup] : lookups) {
    std::lock_guard<std::mutex> lock(lookup->mutex);
    if (lookup->done) httpAddrFreeList(lookup->addresses);
    lookup->addresses = nullptr;
  }
}

bool CupsClient::InBackoff(const CupsServer& server) {
  std::lock_guard<std::mutex> lock(mutex);
  auto found = backoff.find(server.Key());
  if (found == backoff.end()) return false;
  if (SteadyClock::now() < found->second) return true;
  backoff.erase(found);
  return false;
}

void CupsClient::NoteTimeout(const CupsServer& server) {
  std::lock_guard<std::mutex> lock(mutex);
  backoff[server.Key()] = SteadyClock::now() + std::chrono::milliseconds(kCupsBackoffMs);
}

// The addresses of the server, owned by the cache; nullptr when the name
// is unknown or its lookup did not finish by the deadline.
http_addrlist_t* CupsClient::Resolve(const CupsServer& server,
                                     SteadyClock::time_point deadline) {
  const std::string key = server.Key();
  std::shared_ptr<Lookup> lookup;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto cached = resolved.find(key);
    if (cached != resolved.end()) {
      if (SteadyClock::now() < cached->second.until) return cached->second.addresses;
      httpAddrFreeList(cached->second.addresses);
      resolved.erase(cached);
    }
    auto& slot = lookups[key];
    if (!slot) {
      slot = std::make_shared<Lookup>();
      auto started = slot;
      const std::string host = server.host;
      const std::string port = std::to_string(server.port);
      std::thread([started, host, port] {
        http_addrlist_t* found = httpAddrGetList(host.c_str(), AF_UNSPEC, port.c_str());
        std::lock_guard<std::mutex> done(started->mutex);
        started->addresses = found;
        started->done = true;
        started->finished.notify_all();
      }).detach();
    }
    lookup = slot;
  }
  {
    std::unique_lock<std::mutex> wait(lookup->mutex);
    if (!lookup->finished.wait_until(wait, deadline, [&] { return lookup->done; })) {
      return nullptr;
    }
  }
  std::lock_guard<std::mutex> lock(mutex);
  auto cached = resolved.find(key);
  if (cached != resolved.end()) return cached->second.addresses;
  // The first caller back stores the answer; the lookup is then done with.
  auto slot = lookups.find(key);
  if (slot != lookups.end() && slot->second == lookup) lookups.erase(slot);
  Resolved entry;
  {
    std::lock_guard<std::mutex> taken(lookup->mutex);
    entry.addresses = lookup->addresses;
    lookup->addresses = nullptr;
  }
  entry.until = SteadyClock::now() + (entry.addresses != nullptr ? kResolvedFor : kUnresolvedFor);
  resolved[key] = entry;
  return entry.addresses;
}

CupsClient::Connection* CupsClient::Take(const CupsServer& server,
                                         SteadyClock::time_point deadline, bool* timedOut) {
  *timedOut = false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto& connections = idle[server.Key()];
    const auto now = SteadyClock::now();
    while (!connections.empty()) {
      Connection* connection = connections.back();
      connections.pop_back();
      if (now - connection->lastUsed < kIdleLimit) return connection;
      httpClose(connection->http);
      delete connection;
    }
  }

  http_t* http = nullptr;
  const auto left = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
        .count();
  };
  if (server.IsSocket()) {
    http = httpConnect2(server.host.c_str(), server.port, nullptr, AF_UNSPEC,
                        HTTP_ENCRYPTION_IF_REQUESTED, 1, static_cast<int>(left()), nullptr);
  } else {
    if (Resolve(server, deadline) == nullptr || left() <= 0) {
      *timedOut = SteadyClock::now() >= deadline;
      return nullptr;
    }
    // The cached list may be replaced by another thread; httpConnect2
    // copies it, so the lock is held across the call.
    std::lock_guard<std::mutex> lock(mutex);
    auto cached = resolved.find(server.Key());
    if (cached == resolved.end() || cached->second.addresses == nullptr) return nullptr;
    http = httpConnect2(server.host.c_str(), server.port, cached->second.addresses, AF_UNSPEC,
                        HTTP_ENCRYPTION_IF_REQUESTED, 1, static_cast<int>(left()), nullptr);
  }
  if (http == nullptr) {
    *timedOut = SteadyClock::now() >= deadline;
    return nullptr;
  }
  auto* connection = new Connection;
  connection->http = http;
  return connection;
}

void CupsClient::Give(const CupsServer& server, Connection* connection) {
  connection->lastUsed = SteadyClock::now();
  std::lock_guard<std::mutex> lock(mutex);
  auto& connections = idle[server.Key()];
  if (connections.size() < kMaxIdlePerServer) {
    connections.push_back(connection);
    return;
  }
  httpClose(connection->http);
  delete connection;
}

CupsResult CupsClient::Request(const CupsServer& server, ipp_t* request,
                               const char* resource) {
  CupsResult result;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kCupsCallBudgetMs);
  if (InBackoff(server)) {
    ippDelete(request);
    result.failure = CupsFailure::kUnreachable;
    result.status = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
    return result;
  }
  bool timedOut = false;
  Connection* connection = Take(server, deadline, &timedOut);
  if (connection == nullptr) {
    if (timedOut) NoteTimeout(server);
    ippDelete(request);
    result.failure = CupsFailure::kUnreachable;
    result.status = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
    return result;
  }

  bool expired = false;
  std::pair<SteadyClock::time_point, bool*> limit{deadline, &expired};
  // Every wait of libcups on this connection checks the deadline each 50 ms.
  httpSetTimeout(connection->http, 0.05, &OnTimeout, &limit);
  bool reusable = false;
  ipp_t* response = Exchange(server, connection->http, request, resource, &result.status,
                             &reusable);
  httpSetTimeout(connection->http, 0.05, nullptr, nullptr);

  if (response == nullptr) {
    httpClose(connection->http);
    delete connection;
    if (expired || SteadyClock::now() >= deadline) NoteTimeout(server);
    const bool refused = result.status == IPP_STATUS_ERROR_FORBIDDEN ||
                         result.status == IPP_STATUS_ERROR_NOT_AUTHORIZED ||
                         result.status == IPP_STATUS_ERROR_NOT_AUTHENTICATED ||
                         result.status == IPP_STATUS_ERROR_NOT_FOUND;
    result.failure = refused && !expired ? CupsFailure::kRefused : CupsFailure::kUnreachable;
    return result;
  }
  result.localAddress = LocalAddressOf(connection->http);
  if (reusable) {
    Give(server, connection);
  } else {
    httpClose(connection->http);
    delete connection;
  }
  result.status = ippGetStatusCode(response);
  if (result.status > IPP_STATUS_OK_EVENTS_COMPLETE) {
    ippDelete(response);
    result.failure = CupsFailure::kRefused;
    return result;
  }
  result.response = response;
  return result;
}

}  // namespace pelko
