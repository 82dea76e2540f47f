// The mail program's own record: one line a run, "Sendrik.log" in the logs
// folder (not .xml, so that neither the purge nor the global log takes it),
// kept small by moving it to Sendrik.log.old when it grows too long.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelko::mail {

inline constexpr char kLogName[] = "Sendrik.log";
inline constexpr uint64_t kLogLimit = 256 * 1024;

class SendrikLog {
 public:
  // folder empty: lines go to standard error only.
  explicit SendrikLog(std::string folder) : folder(std::move(folder)) {}
  // Appends "YYYY-MM-DD HH:MM:SS line" and writes it to standard error too.
  void Write(std::string_view line);

 private:
  std::string folder;
};

}  // namespace pelko::mail
