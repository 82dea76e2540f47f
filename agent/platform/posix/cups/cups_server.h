// Which CUPS server and queue a machine or printer name means, and the URI
// that names the queue to that server.
#pragma once

#include <string>

namespace pelko {

struct CupsServer {
  std::string host;  // a host name, an address, or the path of a unix socket
  int port = 0;
  bool IsSocket() const { return !host.empty() && host.front() == '/'; }
  std::string Key() const { return host + "|" + std::to_string(port); }
};

// The computer's name as GetComputerNameA gives it: the host name up to its
// first dot, in upper case, at most 15 bytes.
std::string ThisComputerName();

// "Office" or "\\host\Office".
bool ParsePrinterName(const std::string& name, CupsServer* server, std::string* queue);

// "ipp://host/printers/<queue>", escaped.
std::string PrinterUri(const CupsServer& server, const std::string& queue);

}  // namespace pelko
