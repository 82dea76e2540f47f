// What the parts of the POSIX spooler share about CUPS: IPP requests on pooled connections, each
// bounded in time as a whole (name lookup, connect, request and answer), so that a worker never
// waits long on a server that does not answer. Which server a name means is cups_server.h's.
#pragma once

#include <cups/cups.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "agent/platform/posix/cups/cups_resolver.h"
#include "agent/platform/posix/cups/cups_server.h"

namespace pelko {

// The whole of one call to a server may take this long.
inline constexpr int kCupsCallBudgetMs = 400;

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

// Takes an answer's data (a job's document) piece by piece; false stops it.
using CupsDataSink = std::function<bool(const char* data, std::size_t size)>;

// Pooled connections, one request at a time on each; shared by all threads.
class CupsClient {
 public:
  static CupsClient& Shared();
  ~CupsClient();

  // Sends request (consumed) to the server and waits for the answer, within
  // kCupsCallBudgetMs in all.
  CupsResult Request(const CupsServer& server, ipp_t* request);
  // The same for an answer followed by data (CUPS-Get-Document), which goes
  // to sink; the whole call may take budgetMs. A transfer the sink stopped
  // or that was cut short fails as kUnreachable: the sink knows which.
  // It is tried also while the server is backed off from after a timeout.
  CupsResult RequestData(const CupsServer& server, ipp_t* request, int budgetMs,
                         const CupsDataSink& sink);

 private:
  struct Connection;

  CupsResult Call(const CupsServer& server, ipp_t* request, int budgetMs, const CupsDataSink* sink);

  Connection* Take(const CupsServer& server, std::chrono::steady_clock::time_point deadline,
                   bool* timedOut);
  Connection* TakeIdle(const CupsServer& server);
  void Give(const CupsServer& server, Connection* connection);
  static void Drop(Connection* connection);
  bool InBackoff(const CupsServer& server);
  void NoteTimeout(const CupsServer& server);

  CupsResolver resolver;
  std::mutex mutex;
  std::map<std::string, std::vector<Connection*>> idle;
  std::map<std::string, std::chrono::steady_clock::time_point> backoff;
};

}  // namespace pelko
