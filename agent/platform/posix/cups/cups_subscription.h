// The subscriptions of watched CUPS queues to the events the scheduler
// pushes to us (cups_push.h): made after a fetch, renewed before their lease
// runs out, made anew when the server forgot one or its pushes stopped.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "agent/platform/clock.h"
#include "agent/platform/posix/cups/cups_client.h"
#include "agent/platform/posix/cups/cups_push.h"

namespace pelko {

// One queue's subscription and what its pushes told. All but the atomics
// and changeSignals are under the queue's lock.
struct CupsSubscription {
  int id = 0;  // none while 0
  std::string token;
  std::chrono::steady_clock::time_point renewDue;
  std::chrono::steady_clock::time_point retryAt;
  std::chrono::steady_clock::time_point unconfirmedSince;

  // Written by the listener's thread.
  std::atomic<uint64_t> pushes{0};
  std::atomic<bool> confirmed{false};  // pushes are known to arrive
  std::vector<Signal*> changeSignals;  // under CupsSubscriptions's mutex
};

// The subscriptions of one spooler's queues and the listener their pushes
// come to.
class CupsSubscriptions {
 public:
  explicit CupsSubscriptions(CupsClient& client);
  CupsSubscriptions(const CupsSubscriptions&) = delete;
  CupsSubscriptions& operator=(const CupsSubscriptions&) = delete;

  // Ends the listener: no push is counted after this returns.
  void Stop() { listener.Stop(); }

  // Makes, renews or gives up the subscription as due, with one request at
  // most. Only after a fetch the server answered, on a connection from
  // localAddress; under the queue's lock.
  void Upkeep(const std::shared_ptr<CupsSubscription>& subscription, const CupsServer& server,
              const std::string& printerUri, const std::string& localAddress);
  // Ends the subscription at the server too. Under the queue's lock.
  void Cancel(CupsSubscription& subscription, const CupsServer& server,
              const std::string& printerUri);

  // Signals set by every push for the queue.
  void AddChangeSignal(CupsSubscription& subscription, Signal* changed);
  void RemoveChangeSignal(CupsSubscription& subscription, Signal* changed);
  // Whether anyone waits on the queue's changes: only then is it subscribed.
  bool Awaited(const CupsSubscription& subscription);

 private:
  void OnPush(const std::string& path);
  void Subscribe(const std::shared_ptr<CupsSubscription>& subscription, const CupsServer& server,
                 const std::string& printerUri, const std::string& localAddress,
                 std::chrono::steady_clock::time_point now);
  void Renew(CupsSubscription& subscription, const CupsServer& server,
             const std::string& printerUri, std::chrono::steady_clock::time_point now);
  void Forget(CupsSubscription& subscription);
  // Cancels the subscriptions on the queue that push to a listener of this
  // machine's address that is gone (an agent killed before it could cancel
  // them): cupsd's notifier for each fails at every event and fills its
  // error log until the lease ends.
  void CancelLeftovers(const CupsServer& server, const std::string& printerUri,
                       const std::string& address);

  CupsClient& client;
  std::mutex mutex;  // tokens, and every subscription's changeSignals
  std::map<std::string, std::weak_ptr<CupsSubscription>> tokens;
  std::set<std::string> swept;  // queues whose leftovers were cancelled
  CupsPushListener listener;    // last, so that its thread ends first
};

}  // namespace pelko
