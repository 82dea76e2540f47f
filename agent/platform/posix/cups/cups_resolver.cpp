// Name lookups of CUPS servers, bounded by the caller's deadline and cached.
#include "agent/platform/posix/cups/cups_resolver.h"

#include <sys/socket.h>

#include <condition_variable>
#include <cstdint>
#include <thread>

namespace pelko {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr auto kResolvedFor = std::chrono::seconds(60);
constexpr auto kUnresolvedFor = std::chrono::seconds(5);

int64_t MsLeft(SteadyClock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
      .count();
}

// Connects within what is left of the time; without addresses libcups takes
// the host as it is (a unix socket's path).
http_t* ConnectBy(const CupsServer& server, http_addrlist_t* addresses,
                  SteadyClock::time_point deadline, bool* timedOut) {
  http_t* http =
      httpConnect2(server.host.c_str(), server.port, addresses, AF_UNSPEC,
                   HTTP_ENCRYPTION_IF_REQUESTED, 1, static_cast<int>(MsLeft(deadline)), nullptr);
  if (http == nullptr) *timedOut = SteadyClock::now() >= deadline;
  return http;
}

}  // namespace

// A name lookup under way on a helper thread of its own, so that a caller
// can stop waiting for it; the answer is kept for the next caller.
struct CupsResolver::Lookup {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  http_addrlist_t* addresses = nullptr;
};

CupsResolver::~CupsResolver() {
  for (auto& [key, entry] : resolved) httpAddrFreeList(entry.addresses);
  // Lookups still running own their results and free nothing of ours.
  for (auto& [key, lookup] : lookups) {
    std::lock_guard<std::mutex> lock(lookup->mutex);
    if (lookup->done) httpAddrFreeList(lookup->addresses);
    lookup->addresses = nullptr;
  }
}

http_t* CupsResolver::Connect(const CupsServer& server, SteadyClock::time_point deadline,
                              bool* timedOut) {
  if (server.IsSocket()) return ConnectBy(server, nullptr, deadline, timedOut);
  if (Resolve(server, deadline) == nullptr || MsLeft(deadline) <= 0) {
    *timedOut = SteadyClock::now() >= deadline;
    return nullptr;
  }
  // The cached list may be replaced by another thread; httpConnect2
  // copies it, so the lock is held across the call.
  std::lock_guard<std::mutex> lock(mutex);
  auto cached = resolved.find(server.Key());
  if (cached == resolved.end() || cached->second.addresses == nullptr) return nullptr;
  return ConnectBy(server, cached->second.addresses, deadline, timedOut);
}

// The addresses of the server, owned by the cache; nullptr when the name
// is unknown or its lookup did not finish by the deadline.
http_addrlist_t* CupsResolver::Resolve(const CupsServer& server, SteadyClock::time_point deadline) {
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
    lookup = LookupFor(key, server);
  }
  {
    std::unique_lock<std::mutex> wait(lookup->mutex);
    if (!lookup->finished.wait_until(wait, deadline, [&] { return lookup->done; })) {
      return nullptr;
    }
  }
  return Store(key, lookup);
}

std::shared_ptr<CupsResolver::Lookup> CupsResolver::LookupFor(const std::string& key,
                                                              const CupsServer& server) {
  auto& slot = lookups[key];
  if (slot) return slot;
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
  return slot;
}

http_addrlist_t* CupsResolver::Store(const std::string& key,
                                     const std::shared_ptr<Lookup>& lookup) {
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

}  // namespace pelko
