// Names of CUPS servers and queues, read the way printer and counter names
// give them.
#include "agent/platform/posix/cups/cups_server.h"

#include <cups/cups.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "agent/util/coding.h"

namespace pelko {

namespace {

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

// Splits "[v6]", "[v6]:port", "host", "host:port" or a bare IPv6 address
// into host and port text; false for a bracket left open or text after it.
bool SplitHostPort(const std::string& text, std::string* host, std::string* port) {
  *host = text;
  port->clear();
  if (host->front() == '[') {
    const std::size_t close = host->find(']');
    if (close == std::string::npos) return false;
    const std::string rest = host->substr(close + 1);
    *host = host->substr(1, close - 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      *port = rest.substr(1);
    }
  } else if (const std::size_t colon = host->find(':'); colon != std::string::npos) {
    if (host->find(':', colon + 1) != std::string::npos) {
      // A bare IPv6 address.
    } else {
      *port = host->substr(colon + 1);
      *host = host->substr(0, colon);
    }
  }
  return true;
}

bool IsHostText(const std::string& host) {
  if (host.empty()) return false;
  for (const char c : host) {
    const auto u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == ':' || u >= 0x80)) {
      return false;
    }
  }
  return true;
}

// "host", "host:port", "[v6]", "[v6]:port" or "/socket".
bool ParseServer(const std::string& text, CupsServer* server) {
  if (text.empty()) return false;
  if (text.front() == '/') {
    server->host = text;
    server->port = 0;
    return true;
  }
  std::string host;
  std::string port;
  if (!SplitHostPort(text, &host, &port) || !IsHostText(host)) return false;
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

}  // namespace

std::string ThisComputerName() {
  std::string name = HostName();
  name = name.substr(0, name.find('.'));
  if (name.size() > 15) name.resize(15);
  return AsciiUppered(name);
}

namespace {

// The server a machine part of a printer or counter name stands for: empty,
// or this computer's name (either spelling, any case), is the default server
// (cupsServer(): CUPS_SERVER, client.conf, else the local scheduler);
// anything else is that host, with an optional ":port". False for a name
// that cannot be a host.
bool ServerForMachine(const std::string& machine, CupsServer* server) {
  const std::string host = HostName();
  if (machine.empty() || AsciiEqualFold(machine, ThisComputerName()) ||
      AsciiEqualFold(machine, host) || AsciiEqualFold(machine, host.substr(0, host.find('.')))) {
    const char* configured = cupsServer();
    return ParseServer(configured != nullptr ? configured : "localhost", server) ||
           ParseServer("localhost", server);
  }
  // A socket path names the default server only.
  return machine.find('/') == std::string::npos && ParseServer(machine, server);
}

// Whether a text can be a CUPS queue name.
bool IsQueueName(const std::string& queue) {
  if (queue.empty() || queue.size() > 127) return false;
  for (const char c : queue) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || u == 0x7F || c == '/' || c == '\\' || c == '#' || c == '\'' || c == '"') {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParsePrinterName(const std::string& name, CupsServer* server, std::string* queue) {
  std::string machine;
  if (name.size() >= 2 && name[0] == '\\' && name[1] == '\\') {
    const std::size_t slash = name.find('\\', 2);
    if (slash == std::string::npos || slash == 2) return false;
    machine = name.substr(2, slash - 2);
    *queue = name.substr(slash + 1);
  } else {
    *queue = name;
  }
  return IsQueueName(*queue) && ServerForMachine(machine, server);
}

std::string PrinterUri(const CupsServer& server, const std::string& queue) {
  char uri[1024];
  if (server.IsSocket()) {
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                     "/printers/%s", queue.c_str());
  } else {
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, server.host.c_str(),
                     server.port, "/printers/%s", queue.c_str());
  }
  return uri;
}

}  // namespace pelko
