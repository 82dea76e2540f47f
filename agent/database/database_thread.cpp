#include "agent/database/database_thread.h"

#include <algorithm>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/database/schema.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"

namespace pelko {

void DatabaseThread::Run() {
  for (;;) Pause(Cycle());
}

bool DatabaseThread::Connect(const std::string& connectionText, std::string* error) {
  std::string keyPath, valueName;
  SplitRegistryPath(std::string(settings::kKey) + "\\" + settings::kDatabasePassword, &keyPath,
                    &valueName);
  SealedPassword password;
  RegKey key = nullptr;
  if (env.registry->OpenKey(RootKey::kLocalMachine, keyPath, kKeyRead, &key) == kErrorSuccess) {
    KeyCloser closer(*env.registry, key);
    if (QueryValueBytes(*env.registry, key, valueName, &password.type, &password.data) !=
        kErrorSuccess) {
      password = SealedPassword{};
    }
  }
  connection = env.sql->Connect(connectionText, password, kDatabaseTimeoutSeconds, error);
  std::fill(password.data.begin(), password.data.end(), '\0');
  if (!connection) return false;
  int upgradedFrom = 0;
  if (!database::EnsureSchema(*connection, error, &upgradedFrom)) return false;
  if (upgradedFrom != 0) {
    SayTrouble(
        env, EventKind::kDatabaseUpgraded, Severity::kInfo, "database upgraded",
        "the database tables were upgraded from version " + std::to_string(upgradedFrom) + " to " +
            std::to_string(database::kSchemaVersion) +
            "; agents of an earlier version leave the database alone until they are upgraded");
  }
  sync = std::make_unique<database::LogSync>(env, logLocks, Pauser(), connectedAs);
  return sync->LoadState(*connection, error);
}

uint32_t DatabaseThread::Failed(const std::string& what) {
  connection.reset();
  sync.reset();
  if (!away) {
    away = true;
    ++outages;
    // Said once for each time the database goes away, however long.
    SayTrouble(env, EventKind::kDatabaseUnreachable, Severity::kWarning,
               "database away " + std::to_string(outages),
               "the database is out of reach; the jobs wait in the daily logs and are sent "
               "when it is back: " +
                   what);
  }
  const uint32_t wait = retryMs;
  retryMs = std::min(retryMs * 2, kDatabaseLastRetryMs);
  return wait;
}

uint32_t DatabaseThread::Cycle() {
  const std::string connectionText =
      RegistryStringValue(*env.registry, settings::kDatabaseConnection).Read();
  // A server renamed writes under its new name from the next round on.
  const std::string server = database::SyncServerName(env);
  if (connectionText != connectedWith || server != connectedAs) {
    connection.reset();
    sync.reset();
    connectedWith = connectionText;
    connectedAs = server;
  }
  if (connectionText.empty() || env.sql == nullptr) return kDatabasePollMs;
  std::string error;
  if (!connection && !Connect(connectionText, &error)) return Failed(error);
  const std::string path = RegistryStringValue(*env.registry, settings::kPath).Read();
  if (!sync->SendChanges(*connection, LogsFolder(path, env.files->Separator()), &error)) {
    return Failed(error);
  }
  if (away) {
    away = false;
    SayTrouble(env, EventKind::kDatabaseBack, Severity::kInfo,
               "database back " + std::to_string(outages),
               "the database is reachable again; the daily logs are sent");
  }
  retryMs = kDatabaseFirstRetryMs;
  return kDatabasePollMs;
}

}  // namespace pelko
