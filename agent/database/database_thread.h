// Keeps the central database in step with this computer's daily logs while
// DatabaseConnection is set. The logs stay the truth and the outbox: while
// the database is away nothing waits in memory, and the thread tries again
// later, each time a little later, saying the trouble once.
#pragma once

#include <memory>
#include <string>

#include "agent/database/log_sync.h"
#include "agent/logs/log_locks.h"
#include "agent/worker/worker_thread.h"

namespace pelko {

// How often the logs are looked at for changes.
inline constexpr uint32_t kDatabasePollMs = 2000;
// The bound of every wait on the database: connecting, and each statement.
inline constexpr uint32_t kDatabaseTimeoutSeconds = 10;
// The waits after a failure: from the first, doubled up to the last.
inline constexpr uint32_t kDatabaseFirstRetryMs = 5000;
inline constexpr uint32_t kDatabaseLastRetryMs = 60000;

class DatabaseThread : public WorkerThread {
 public:
  DatabaseThread(const Env& env, LogLocks& logLocks) : WorkerThread(env), logLocks(logLocks) {
    name = "database thread";
  }
  ~DatabaseThread() { Stop(); }

  void Run() override;

  // One round: connects when there is no connection, then sends what
  // changed. Returns the wait before the next round.
  uint32_t Cycle();

 private:
  bool Connect(const std::string& connectionText, std::string* error);
  uint32_t Failed(const std::string& what);

  LogLocks& logLocks;
  std::unique_ptr<SqlConnection> connection;
  std::unique_ptr<database::LogSync> sync;
  std::string connectedWith;
  std::string connectedAs;
  uint32_t retryMs = kDatabaseFirstRetryMs;
  bool away = false;
  uint64_t outages = 0;
};

}  // namespace pelko
