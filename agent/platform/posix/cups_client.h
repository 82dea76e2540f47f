// What the POSIX spooler and performance data share about CUPS: which server
// a machine name means, and IPP requests on pooled connections, each bounded
// in time as a whole (name lookup, connect, request and answer), so that a
// worker never waits long on a server that does not answer.
#pragma once

#include <cups/cups.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelko {

// The whole of one call to a server may take this long.
inline constexpr int kCupsCallBudgetMs = 400;
// After a server did not answer in time, calls to it fail at once for this
// long rather than each waiting out its budget.
inline constexpr int kCupsBackoffMs = 2000;

struct CupsServer {
  std::string host;  // a host name, an address, or the path of a unix socket
  int port = 0;
  bool IsSocket() const { return !host.empty() && host.front() == '/'; }
  std::string Key() const { return host + "|" + std::to_string(port); }
};

// The computer's name as GetComputerNameA gives it: the host name up to its
// first dot, in upper case, at most 15 bytes.
std::string ThisComputerName();

// The server a machine part of a printer or counter name stands for: empty,
// or this computer's name (either spelling, any case), is the default server
// (cupsServer(): CUPS_SERVER, client.conf, else the local scheduler);
// anything else is that host, with an optional ":port". False for a name
// that cannot be a host.
bool ServerForMachine(const std::string& machine, CupsServer* server);

// Whether a text can be a CUPS queue name.
bool IsQueueName(const std::string& queue);

// "ipp://host/printers/<queue>", escaped.
std::string PrinterUri(const CupsServer& server, const std::string& queue);

// A new request with the attributes every request carries.
ipp_t* NewRequest(ipp_op_t operation, const std::string& printerUri);

enum class CupsFailure {
  kNone,
  kUnreachable,  // no answer: name unknown, refused, timed out, cut
  kRefused,      // an answer other than success, e.g. no such queue
};

struct CupsResult {
  ipp_t* response = nullptr;  // owned by the caller when set
  CupsFailure failure = CupsFailure::kNone;
  ipp_status_t status = IPP_STATUS_OK;
  // The address this end of the connection had (for pushes back to us):
  // a numeric IPv4 or IPv6 address, or empty for a unix socket.
  std::string localAddress;
};

// Pooled connections, one request at a time on each; shared by all threads.
class CupsClient {
 public:
  static CupsClient& Shared();
  ~CupsClient();

  // Sends request (consumed) to the server and waits for the answer, within
  // kCupsCallBudgetMs in all.
  CupsResult Request(const CupsServer& server, ipp_t* request, const char* resource = "/");

 private:
  struct Connection;
  struct Resolved {
    http_addrlist_t* addresses = nullptr;
    std::chrono::steady_clock::time_point until;
  };
  struct Lookup;

  http_addrlist_t* Resolve(const CupsServer& server,
                           std::chrono::steady_clock::time_point deadline);
  Connection* Take(const CupsServer& server, std::chrono::steady_clock::time_point deadline,
                   bool* timedOut);
  void Give(const CupsServer& server, Connection* connection);
  bool InBackoff(const CupsServer& server);
  void NoteTimeout(const CupsServer& server);

  std::mutex mutex;
  std::map<std::string, std::vector<Connection*>> idle;
  std::map<std::string, Resolved> resolved;
  std::map<std::string, std::shared_ptr<Lookup>> lookups;
  std::map<std::string, std::chrono::steady_clock::time_point> backoff;
};

}  // namespace pelko
