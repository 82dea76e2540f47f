// IPP requests to CUPS servers on pooled connections, each within one
// budget of time from name lookup to answer.
#include "agent/platform/posix/cups/cups_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <strings.h>

#include <memory>
#include <utility>

namespace pelko {

namespace {

using SteadyClock = std::chrono::steady_clock;

// An idle connection older than this is not trusted any more: libcups would
// reconnect it with a wait of its own that no budget bounds.
constexpr auto kIdleLimit = std::chrono::seconds(5);
constexpr std::size_t kMaxIdlePerServer = 64;
// After a server did not answer in time, calls to it fail at once for this
// long rather than each waiting out its budget.
constexpr auto kBackoff = std::chrono::milliseconds(2000);

using Deadline = std::pair<SteadyClock::time_point, bool*>;

int OnTimeout(http_t*, void* data) {
  // Called whenever a wait of libcups has lasted the timeout set; 0 ends it.
  auto* deadline = static_cast<Deadline*>(data);
  if (SteadyClock::now() < deadline->first) return 1;
  *deadline->second = true;
  return 0;
}

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
    inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr, text, sizeof text);
  }
  return text;
}

// The IPP status an HTTP answer other than OK stands for.
ipp_status_t StatusOfHttp(http_status_t answer) {
  switch (answer) {
    case HTTP_STATUS_UNAUTHORIZED:
      return IPP_STATUS_ERROR_NOT_AUTHENTICATED;
    case HTTP_STATUS_FORBIDDEN:
      return IPP_STATUS_ERROR_FORBIDDEN;
    case HTTP_STATUS_NOT_FOUND:
      return IPP_STATUS_ERROR_NOT_FOUND;
    default:
      return IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
  }
}

// Posts the request; false when it could not be sent whole.
bool Post(const CupsServer& server, http_t* http, ipp_t* request) {
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
  // On the local socket the scheduler takes our word for who we are only
  // when it can check it against the socket's peer.
  if (server.IsSocket()) httpSetAuthString(http, "PeerCred", cupsUser());
  httpSetLength(http, ippLength(request));
  if (httpPost(http, "/") != 0) return false;
  ippSetState(request, IPP_STATE_IDLE);
  for (ipp_state_t state = IPP_STATE_IDLE; state != IPP_STATE_DATA;) {
    state = ippWrite(http, request);
    if (state == IPP_STATE_ERROR) return false;
  }
  return httpFlushWrite(http) >= 0;
}

// One IPP request and its answer on an open connection, with libcups's
// HTTP layer only: cupsDoRequest would wait a fixed second for a "100
// Continue", reconnect with a wait of its own or ask for a password, none of
// which a deadline bounds. Consumes request; nullptr on failure, *status
// telling why.
ipp_t* Exchange(const CupsServer& server, http_t* http, ipp_t* request, ipp_status_t* status,
                bool* reusable, const CupsDataSink* sink) {
  std::unique_ptr<ipp_t, decltype(&ippDelete)> sent(request, &ippDelete);
  *status = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
  if (!Post(server, http, request)) return nullptr;

  http_status_t answer = HTTP_STATUS_CONTINUE;
  while (answer == HTTP_STATUS_CONTINUE) answer = httpUpdate(http);
  if (answer != HTTP_STATUS_OK) {
    *status = StatusOfHttp(answer);
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
  if (sink != nullptr && *status <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    // A connection whose data was not all read is never given back.
    *reusable = false;
    char chunk[32768];
    for (;;) {
      const ssize_t got = httpRead2(http, chunk, sizeof chunk);
      if (got == 0) break;
      if (got < 0 || !(*sink)(chunk, static_cast<std::size_t>(got))) {
        *status = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
        return nullptr;
      }
    }
  }
  return response.release();
}

// Why an exchange got no answer: the server said no, or nothing came in time.
CupsFailure FailureOf(ipp_status_t status, bool expired) {
  const bool refused =
      status == IPP_STATUS_ERROR_FORBIDDEN || status == IPP_STATUS_ERROR_NOT_AUTHORIZED ||
      status == IPP_STATUS_ERROR_NOT_AUTHENTICATED || status == IPP_STATUS_ERROR_NOT_FOUND;
  return refused && !expired ? CupsFailure::kRefused : CupsFailure::kUnreachable;
}

CupsResult Unreachable() {
  CupsResult result;
  result.failure = CupsFailure::kUnreachable;
  result.status = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
  return result;
}

}  // namespace

ipp_t* NewRequest(ipp_op_t operation, const std::string& printerUri) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

struct CupsClient::Connection {
  http_t* http = nullptr;
  SteadyClock::time_point lastUsed;
};

CupsClient& CupsClient::Shared() {
  static CupsClient client;
  return client;
}

CupsClient::~CupsClient() {
  for (auto& [key, connections] : idle) {
    for (Connection* connection : connections) Drop(connection);
  }
}

void CupsClient::Drop(Connection* connection) {
  httpClose(connection->http);
  delete connection;
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
  backoff[server.Key()] = SteadyClock::now() + kBackoff;
}

// The most recently used idle connection that may still be trusted; older
// ones found on the way are closed.
CupsClient::Connection* CupsClient::TakeIdle(const CupsServer& server) {
  std::lock_guard<std::mutex> lock(mutex);
  auto& connections = idle[server.Key()];
  const auto now = SteadyClock::now();
  while (!connections.empty()) {
    Connection* connection = connections.back();
    connections.pop_back();
    if (now - connection->lastUsed < kIdleLimit) return connection;
    Drop(connection);
  }
  return nullptr;
}

CupsClient::Connection* CupsClient::Take(const CupsServer& server, SteadyClock::time_point deadline,
                                         bool* timedOut) {
  *timedOut = false;
  if (Connection* connection = TakeIdle(server)) return connection;
  http_t* http = resolver.Connect(server, deadline, timedOut);
  if (http == nullptr) return nullptr;
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
  Drop(connection);
}

CupsResult CupsClient::Request(const CupsServer& server, ipp_t* request) {
  return Call(server, request, kCupsCallBudgetMs, nullptr);
}

CupsResult CupsClient::RequestData(const CupsServer& server, ipp_t* request, int budgetMs,
                                   const CupsDataSink& sink) {
  return Call(server, request, budgetMs, &sink);
}

CupsResult CupsClient::Call(const CupsServer& server, ipp_t* request, int budgetMs,
                            const CupsDataSink* sink) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(budgetMs);
  bool timedOut = false;
  // The back-off spares the printer threads' short calls a server that did
  // not answer; a fetch of a document has a thread and a budget of its own,
  // and a busy server that timed a listing out may well hand it over.
  const bool backingOff = sink == nullptr && InBackoff(server);
  Connection* connection = backingOff ? nullptr : Take(server, deadline, &timedOut);
  if (connection == nullptr) {
    if (timedOut) NoteTimeout(server);
    ippDelete(request);
    return Unreachable();
  }

  CupsResult result;
  bool expired = false;
  Deadline limit{deadline, &expired};
  // Every wait of libcups on this connection checks the deadline each 50 ms.
  httpSetTimeout(connection->http, 0.05, &OnTimeout, &limit);
  bool reusable = false;
  ipp_t* response = Exchange(server, connection->http, request, &result.status, &reusable, sink);
  httpSetTimeout(connection->http, 0.05, nullptr, nullptr);

  if (response == nullptr) {
    Drop(connection);
    if (expired || SteadyClock::now() >= deadline) NoteTimeout(server);
    result.failure = FailureOf(result.status, expired);
    return result;
  }
  result.localAddress = LocalAddressOf(connection->http);
  if (reusable) {
    Give(server, connection);
  } else {
    Drop(connection);
  }
  if (result.status > IPP_STATUS_OK_EVENTS_COMPLETE) {
    ippDelete(response);
    result.failure = CupsFailure::kRefused;
    return result;
  }
  result.response = response;
  return result;
}

}  // namespace pelko
