// The mail program's own record: one line a run, "Sendrik.log" in the logs
// folder (not .xml, so that neither the purge nor the global log takes it),
// kept small by moving it to Sendrik.log.old when it grows too long.
//
// Others may be able to write the logs folder, and the program runs as the
// agent's user: the log is only ever appended to when it is a regular file
// of that user's with one name, reached through the folder itself without
// following a link or waiting on a pipe; anything else at its name is left
// alone and said instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pelko::mail {

inline constexpr char kLogName[] = "Sendrik.log";
inline constexpr char kOldLogName[] = "Sendrik.log.old";
inline constexpr uint64_t kLogLimit = 256 * 1024;

// Appends text to folder's Sendrik.log, moving a full one aside first. false
// with why when the file is refused or cannot be written.
bool AppendToSendrikLog(const std::string& folder, std::string_view text, std::string* why);

class SendrikLog {
 public:
  using Refusal = std::function<void(const std::string&)>;
  // folder empty: lines go to standard error only. refused hears why a
  // line could not go into the log (the system's log, for the agent's run).
  explicit SendrikLog(std::string folder, Refusal refused = nullptr)
      : folder(std::move(folder)), refused(std::move(refused)) {}
  // Appends "YYYY-MM-DD HH:MM:SS line" and writes it to standard error too.
  void Write(std::string_view line);

 private:
  std::string folder;
  Refusal refused;
  bool saidRefusal = false;
};

}  // namespace pelko::mail
