// pelkodb: the administrators' tool for the database sink. Sets
// DatabasePassword from standard input (never from the command line), and
// checks that the configured database can be reached and holds the tables.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/database/schema.h"
#include "agent/platform/password_line.h"
#include "agent/platform/registry.h"
#include "agent/platform/sql.h"
#include "agent/util/coding.h"

namespace pelko {
namespace {

constexpr char kUsage[] =
    "Usage: pelkodb --set-password   read the database password from standard input\n"
    "                                and keep it as DatabasePassword (sealed on Windows)\n"
    "       pelkodb --check          connect as the agent does, make the tables when\n"
    "                                they are missing or upgrade them from an earlier\n"
    "                                version, and say how many rows they hold\n"
    "       pelkodb --version        the version\n";

int SetPassword() {
  std::string password;
  if (!ReadPasswordLine("Database password: ", &password)) {
    std::fputs("pelkodb: the password is longer than 1024 bytes\n", stderr);
    return 2;
  }
  std::string error;
  const bool stored = StoreSealedPassword(PlatformRegistry(), settings::kKey,
                                          settings::kDatabasePassword, password, &error);
  std::fill(password.begin(), password.end(), '\0');
  if (!stored) {
    std::fprintf(stderr, "pelkodb: DatabasePassword not set: %s\n", error.c_str());
    return 1;
  }
  std::fputs("pelkodb: DatabasePassword set\n", stderr);
  return 0;
}

int Check() {
  Registry& registry = PlatformRegistry();
  const std::string connection =
      RegistryStringValue(registry, settings::kDatabaseConnection).Read();
  if (connection.empty()) {
    std::fputs("pelkodb: DatabaseConnection is empty: the database sink is off\n", stderr);
    return 1;
  }
  SealedPassword password;
  RegKey key = nullptr;
  if (registry.OpenKey(RootKey::kLocalMachine, settings::kKey, kKeyRead, &key) == kErrorSuccess) {
    if (QueryValueBytes(registry, key, settings::kDatabasePassword, &password.type,
                        &password.data) != kErrorSuccess) {
      password = SealedPassword{};
    }
    registry.CloseKey(key);
  }
  std::string error;
  auto database = PlatformSql().Connect(connection, password, 10, &error);
  int upgradedFrom = 0;
  if (!database || !database::EnsureSchema(*database, &error, &upgradedFrom)) {
    std::fprintf(stderr, "pelkodb: %s\n", error.c_str());
    // The driver's words alone do not tell where the agent's password lives.
    if (!database && password.data.empty() &&
        AsciiLowered(error).find("password") != std::string::npos) {
      std::fputs(
          "pelkodb: no DatabasePassword is set: give it with pelkodb --set-password "
          "(it reads the password from standard input), then run pelkodb --check again\n",
          stderr);
    }
    return 1;
  }
  if (upgradedFrom != 0) {
    std::fprintf(stderr, "pelkodb: the tables were upgraded from version %d to %d\n", upgradedFrom,
                 database::kSchemaVersion);
  }
  std::vector<SqlRow> rows;
  if (!database->Execute("SELECT COUNT(*) FROM pelko_jobs", {}, &rows) || rows.empty()) {
    std::fprintf(stderr, "pelkodb: %s\n", database->LastError().c_str());
    return 1;
  }
  database->Rollback();
  std::printf("%s: tables of version %d, %s jobs\n", database->ProductName().c_str(),
              database::kSchemaVersion, rows[0][0].c_str());
  return 0;
}

}  // namespace
}  // namespace pelko

int main(int argc, char** argv) {
  pelko::KeepDriverFilesPrivate();
  if (argc == 2 && !std::strcmp(argv[1], "--set-password")) return pelko::SetPassword();
  if (argc == 2 && !std::strcmp(argv[1], "--check")) return pelko::Check();
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::puts("pelkodb " PELKO_VERSION);
    return 0;
  }
  const bool help = argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "/?"));
  if (argc == 1) {
    std::fputs("pelkodb: give --set-password or --check\n\n", stderr);
  } else if (!help) {
    std::fprintf(stderr, "pelkodb: unknown argument '%s'\n\n", argv[1]);
  }
  std::fputs(pelko::kUsage, help ? stdout : stderr);
  return help ? 0 : 2;
}
