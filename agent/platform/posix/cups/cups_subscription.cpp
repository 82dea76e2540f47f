// Subscriptions to CUPS's pushed events, kept alive by the watchers'
// fetches, and the pushes told to the queues they announce.
#include "agent/platform/posix/cups/cups_subscription.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <random>

#include "agent/util/coding.h"

namespace pelko {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kLeaseSeconds = 90;
constexpr auto kRenewEvery = std::chrono::seconds(30);
// A queue without a subscription is asked at every look (50 requests a
// second): a subscription that failed, as one does when 49 queues start at
// once on a loaded machine, is tried again soon.
constexpr auto kRetrySubscribe = std::chrono::seconds(5);
// Pushes promised but not seen for this long: start a new subscription.
constexpr auto kResubscribeAfter = std::chrono::seconds(30);

std::string NewToken() {
  std::random_device random;
  std::string token = "pelko-";
  for (int i = 0; i < 24; ++i) token += kHexLower[random() % 16];
  return token;
}

// The token in the path of a push: "/<token>.rss".
std::string TokenOf(const std::string& path) {
  std::string token = path;
  if (!token.empty() && token.front() == '/') token.erase(0, 1);
  const std::size_t dot = token.rfind(".rss");
  if (dot != std::string::npos) token.resize(dot);
  return token;
}

// Where the scheduler is to push: our end of its connection, at the port
// the listener has there.
std::string RecipientUri(const std::string& address, int port, const std::string& token) {
  const std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
  return "rss://" + host + ":" + std::to_string(port) + "/" + token + ".rss";
}

ipp_t* NewSubscriptionRequest(const std::string& printerUri, const std::string& recipient) {
  ipp_t* request = NewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, printerUri);
  ippAddSeparator(request);
  ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_URI, "notify-recipient-uri", nullptr,
               recipient.c_str());
  static const char* const kEvents[] = {"job-created", "job-completed", "job-state-changed",
                                        "job-config-changed", "printer-deleted"};
  ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                static_cast<int>(std::size(kEvents)), nullptr, kEvents);
  ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                kLeaseSeconds);
  return request;
}

// The id the server gave a new subscription, if it made one.
std::optional<int> SubscriptionIdOf(const CupsResult& result) {
  ipp_attribute_t* id =
      result.response != nullptr
          ? ippFindAttribute(result.response, "notify-subscription-id", IPP_TAG_INTEGER)
          : nullptr;
  if (id == nullptr) return std::nullopt;
  return ippGetInteger(id, 0);
}

void CancelAtServer(CupsClient& client, const CupsServer& server, const std::string& printerUri,
                    int id) {
  ipp_t* request = NewRequest(IPP_OP_CANCEL_SUBSCRIPTION, printerUri);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
  ippDelete(client.Request(server, request).response);
}

// Whether something takes connections at the numeric address and port; a
// refusal is the only no, since this is a listener of this very machine.
bool Listening(const std::string& address, int port) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return true;
  bool listening = true;
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    listening = connect(fd, found->ai_addr, found->ai_addrlen) == 0 || errno != ECONNREFUSED;
    close(fd);
  }
  freeaddrinfo(found);
  return listening;
}

// A recipient of ours (rss://address:port/pelko-....rss) whose listener is gone.
bool IsLeftover(const std::string& recipient, const std::string& address) {
  char scheme[16], user[64], host[256], resource[256];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, recipient.c_str(), scheme, sizeof scheme, user,
                      sizeof user, host, sizeof host, &port, resource,
                      sizeof resource) < HTTP_URI_STATUS_OK) {
    return false;
  }
  return std::strcmp(scheme, "rss") == 0 && address == host &&
         std::string_view(resource).starts_with("/pelko-") && !Listening(host, port);
}

}  // namespace

CupsSubscriptions::CupsSubscriptions(CupsClient& client)
    : client(client), listener([this](const std::string& path) { OnPush(path); }) {}

void CupsSubscriptions::Upkeep(const std::shared_ptr<CupsSubscription>& subscription,
                               const CupsServer& server, const std::string& printerUri,
                               const std::string& localAddress) {
  CupsSubscription& s = *subscription;
  const auto now = SteadyClock::now();
  if (s.id == 0) {
    // Only for a watcher that waits on changes: a tool that looks once
    // (pelkoctl status, find, check) would leave cupsd's notifier failing
    // on its listener, gone as the tool ends.
    if (now >= s.retryAt && Awaited(s)) {
      Subscribe(subscription, server, printerUri, localAddress, now);
    }
    return;
  }
  if (!s.confirmed.load() && now - s.unconfirmedSince > kResubscribeAfter) {
    Cancel(s, server, printerUri);
    return;
  }
  if (now >= s.renewDue) Renew(s, server, printerUri, now);
}

void CupsSubscriptions::AddChangeSignal(CupsSubscription& subscription, Signal* changed) {
  std::lock_guard<std::mutex> lock(mutex);
  subscription.changeSignals.push_back(changed);
}

void CupsSubscriptions::RemoveChangeSignal(CupsSubscription& subscription, Signal* changed) {
  std::lock_guard<std::mutex> lock(mutex);
  std::erase(subscription.changeSignals, changed);
}

bool CupsSubscriptions::Awaited(const CupsSubscription& subscription) {
  std::lock_guard<std::mutex> lock(mutex);
  return !subscription.changeSignals.empty();
}

void CupsSubscriptions::OnPush(const std::string& path) {
  const std::string token = TokenOf(path);
  std::lock_guard<std::mutex> lock(mutex);
  auto found = tokens.find(token);
  if (found == tokens.end()) return;
  if (auto subscription = found->second.lock()) {
    subscription->pushes.fetch_add(1);
    subscription->confirmed.store(true);
    for (Signal* changed : subscription->changeSignals) changed->Set();
  }
}

void CupsSubscriptions::Subscribe(const std::shared_ptr<CupsSubscription>& subscription,
                                  const CupsServer& server, const std::string& printerUri,
                                  const std::string& localAddress, SteadyClock::time_point now) {
  subscription->retryAt = now + kRetrySubscribe;
  std::string address = localAddress;
  // A scheduler on a unix socket is on this machine.
  if (address.empty() || server.IsSocket()) address = "127.0.0.1";
  const int port = listener.PortFor(address);
  if (port == 0) return;
  bool first;
  {
    std::lock_guard<std::mutex> lock(mutex);
    first = swept.insert(printerUri).second;
  }
  if (first) CancelLeftovers(server, printerUri, address);
  const std::string token = NewToken();
  ipp_t* request = NewSubscriptionRequest(printerUri, RecipientUri(address, port, token));
  {
    // Known before the notifier can possibly call.
    std::lock_guard<std::mutex> lock(mutex);
    tokens[token] = subscription;
  }
  CupsResult result = client.Request(server, request);
  const std::optional<int> id = SubscriptionIdOf(result);
  ippDelete(result.response);
  if (!id) {
    std::lock_guard<std::mutex> lock(mutex);
    tokens.erase(token);
    return;
  }
  subscription->id = *id;
  subscription->token = token;
  subscription->renewDue = now + kRenewEvery;
  subscription->unconfirmedSince = now;
}

void CupsSubscriptions::Renew(CupsSubscription& subscription, const CupsServer& server,
                              const std::string& printerUri, SteadyClock::time_point now) {
  ipp_t* request = NewRequest(IPP_OP_RENEW_SUBSCRIPTION, printerUri);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                subscription.id);
  ippAddSeparator(request);
  ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                kLeaseSeconds);
  CupsResult result = client.Request(server, request);
  ippDelete(result.response);
  if (result.failure == CupsFailure::kNone) {
    subscription.renewDue = now + kRenewEvery;
  } else if (result.failure == CupsFailure::kRefused) {
    // Gone (the lease ran out, or the server forgot it): start anew.
    Forget(subscription);
    subscription.retryAt = now;
  } else {
    subscription.renewDue = now + std::chrono::seconds(5);
  }
}

void CupsSubscriptions::Cancel(CupsSubscription& subscription, const CupsServer& server,
                               const std::string& printerUri) {
  CancelAtServer(client, server, printerUri, subscription.id);
  Forget(subscription);
  subscription.retryAt = SteadyClock::now();
}

void CupsSubscriptions::CancelLeftovers(const CupsServer& server, const std::string& printerUri,
                                        const std::string& address) {
  ipp_t* request = NewRequest(IPP_OP_GET_SUBSCRIPTIONS, printerUri);
  static const char* const kWanted[] = {"notify-subscription-id", "notify-recipient-uri"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(std::size(kWanted)), nullptr, kWanted);
  CupsResult result = client.Request(server, request);
  if (result.response == nullptr) return;
  std::vector<int> leftovers;
  int id = 0;
  std::string recipient;
  const auto judge = [&] {
    if (id != 0 && IsLeftover(recipient, address)) leftovers.push_back(id);
    id = 0;
    recipient.clear();
  };
  for (ipp_attribute_t* attribute = ippFirstAttribute(result.response); attribute != nullptr;
       attribute = ippNextAttribute(result.response)) {
    const char* name = ippGetName(attribute);
    if (name == nullptr) {  // the end of one subscription's group
      judge();
    } else if (ippGetGroupTag(attribute) == IPP_TAG_SUBSCRIPTION) {
      if (std::strcmp(name, "notify-subscription-id") == 0) id = ippGetInteger(attribute, 0);
      if (std::strcmp(name, "notify-recipient-uri") == 0) {
        const char* uri = ippGetString(attribute, 0, nullptr);
        recipient = uri != nullptr ? uri : "";
      }
    }
  }
  judge();
  ippDelete(result.response);
  for (int leftover : leftovers) CancelAtServer(client, server, printerUri, leftover);
}

void CupsSubscriptions::Forget(CupsSubscription& subscription) {
  subscription.id = 0;
  subscription.confirmed.store(false);
  std::lock_guard<std::mutex> lock(mutex);
  tokens.erase(subscription.token);
  subscription.token.clear();
}

}  // namespace pelko
