// The addresses of CUPS servers by name: each lookup on a helper thread of
// its own, so that a caller stops waiting at its deadline, and the answer
// cached for the callers after it.
#pragma once

#include <cups/cups.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "agent/platform/posix/cups/cups_server.h"

namespace pelko {

class CupsResolver {
 public:
  CupsResolver() = default;
  ~CupsResolver();
  CupsResolver(const CupsResolver&) = delete;
  CupsResolver& operator=(const CupsResolver&) = delete;

  // A connection to the server at its addresses, looked up first if need
  // be (a unix socket needs none); nullptr when the name is unknown, or the
  // lookup or connect did not finish by the deadline (*timedOut then says
  // which).
  http_t* Connect(const CupsServer& server, std::chrono::steady_clock::time_point deadline,
                  bool* timedOut);

 private:
  struct Resolved {
    http_addrlist_t* addresses = nullptr;
    std::chrono::steady_clock::time_point until;
  };
  struct Lookup;

  http_addrlist_t* Resolve(const CupsServer& server,
                           std::chrono::steady_clock::time_point deadline);
  // The lookup under way for the key, started if there is none. Under mutex.
  std::shared_ptr<Lookup> LookupFor(const std::string& key, const CupsServer& server);
  // Caches a finished lookup's answer and returns it.
  http_addrlist_t* Store(const std::string& key, const std::shared_ptr<Lookup>& lookup);

  std::mutex mutex;
  std::map<std::string, Resolved> resolved;
  std::map<std::string, std::shared_ptr<Lookup>> lookups;
};

}  // namespace pelko
