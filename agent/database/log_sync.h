// Keeps the database in step with the daily logs, which are its outbox:
// each log file whose size or time of writing changed since it was last
// sent is read again, and only the rows that are new or differ are
// written, many to a statement, the whole file in one transaction together
// with what was sent of it. A row written replaces the row of its key, so
// a batch cut short by either side is simply sent again.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "agent/database/dialect.h"
#include "agent/database/job_sums.h"
#include "agent/database/job_rows.h"
#include "agent/files/file_finder.h"
#include "agent/logs/log_locks.h"
#include "agent/platform/env.h"
#include "agent/worker/waiter.h"

namespace pelko::database {

struct SentState {
  uint64_t size = 0;
  uint64_t written = 0;
  bool operator==(const SentState&) const = default;
};

// Every file is looked at when the logs folder's time of writing moved, and
// at least every kFullLookMs (for logs in folders below it).
inline constexpr uint64_t kFullLookMs = 60000;

// The name this computer's jobs carry in the database: ServerName, or the
// computer's name, cut to what the column holds.
std::string SyncServerName(const Env& env);

// What the database says was sent of server's logs, by log file (its path
// under the logs folder). The transaction is rolled back after.
bool ReadSentState(SqlConnection& connection, const std::string& server,
                   std::map<std::string, SentState>* sent, std::string* error);

// The daily logs under logsFolder that the database lacks as they are now,
// the log or its details twin changed (sent is what it holds, by the
// files' paths under logsFolder).
struct ChangedLog {
  std::string logFile;
  std::string logDate;
  FoundFile file;
  std::string twinFile;  // where the log has a twin
  std::optional<FoundFile> twin;
};
std::vector<ChangedLog> ChangedLogs(const Env& env, const std::string& logsFolder,
                                    const std::map<std::string, SentState>& sent);

class LogSync {
 public:
  // pause is called between files, so that a long first sync can be stopped.
  LogSync(const Env& env, LogLocks& locks, Waiter pause, std::string server)
      : env(env), locks(locks), pause(std::move(pause)), server(std::move(server)) {}

  // What the database says was sent of this server's logs.
  bool LoadState(SqlConnection& connection, std::string* error);
  // Sends every daily log under logsFolder that changed since it was sent.
  // Stops at the first failure: the connection is then to be dropped.
  bool SendChanges(SqlConnection& connection, const std::string& logsFolder, std::string* error);

  // For tests and figures.
  uint64_t StatementsRun() const { return statements; }
  uint64_t RowsWritten() const { return rowsWritten; }
  // Files sent again after a deadlock or a serialization failure.
  uint64_t Retries() const { return retries; }

 private:
  // The logs folder's time of writing: the agent replaces a log through a
  // rename in its folder, which changes it.
  uint64_t FolderStamp(const std::string& folder);
  bool SendFile(SqlConnection& connection, const ChangedLog& log, const std::vector<JobRow>& rows,
                std::string* error);
  bool SendFileRetried(SqlConnection& connection, const ChangedLog& log,
                       const std::vector<JobRow>& rows, std::string* error);
  // What was sent of a file: its size and time of writing.
  bool Record(SqlConnection& connection, const std::string& file, const SentState& state);
  // Of rows of printer's day, those the database lacks (fresh) and those it
  // holds otherwise (replacing), read back from it; the rows they write over
  // taken from sums, and the keys of the day's rows added to held.
  bool Unlike(SqlConnection& connection, const std::string& printer, const std::string& logDate,
              const std::vector<const JobRow*>& rows, std::vector<const JobRow*>* fresh,
              std::vector<const JobRow*>* replacing, JobSums* sums, std::vector<uint64_t>* held);
  // Rows of keys the database lacks, or (replacing) rows written over the
  // rows of their keys.
  bool Write(SqlConnection& connection, const std::string& logDate,
             const std::vector<const JobRow*>& rows, bool replacing);
  bool Run(SqlConnection& connection, std::string_view sql, const std::vector<SqlParam>& params,
           std::vector<SqlRow>* result = nullptr);

  Env env;
  LogLocks& locks;
  Waiter pause;
  std::string server;
  std::map<std::string, SentState> sent;
  // The rows each file sent in this connection holds, as the database holds
  // them now (digests, sorted): a file that changes again sends only the
  // rest, reading nothing back. A file not here is compared with the
  // database's rows.
  std::map<std::string, std::vector<uint64_t>> confirmed;
  // The keys of the rows the database holds of each such file's printers'
  // days (digests, sorted): a changed row of a key not among them is new,
  // and nothing is read back to take it from the sums.
  std::map<std::string, std::vector<uint64_t>> heldKeys;
  Engine engine = Engine::kPostgreSql;
  uint64_t folderStamp = 0;
  uint64_t lastFullLookMs = 0;
  uint64_t statements = 0;
  uint64_t rowsWritten = 0;
  uint64_t retries = 0;
};

}  // namespace pelko::database
