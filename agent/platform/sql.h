// SQL service: a connection to a database through ODBC, which is the same
// C interface on every platform (odbc32 on Windows, unixODBC elsewhere).
// Texts go in and come out as UTF-8; every value is bound as a parameter.
//
// A connection belongs to the thread that made it. Every call is bounded
// by the timeout given at connect time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/platform/registry.h"

namespace pelko {

struct SqlParam {
  bool isText = true;
  std::string text;  // UTF-8
  int64_t number = 0;
  bool isNull = false;  // NULL, of the type isText says

  static SqlParam Text(std::string value) { return SqlParam{true, std::move(value), 0}; }
  static SqlParam Number(int64_t value) { return SqlParam{false, {}, value}; }
  // A text or number that may be missing: an empty text is NULL too.
  static SqlParam TextOrNull(std::string value) {
    const bool null = value.empty();
    return SqlParam{true, std::move(value), 0, null};
  }
  static SqlParam NumberOrNull(const std::optional<int64_t>& value) {
    return SqlParam{false, {}, value.value_or(0), !value};
  }
};

// One result row: every column as UTF-8 text, NULL as empty text.
using SqlRow = std::vector<std::string>;

class SqlConnection {
 public:
  virtual ~SqlConnection() = default;
  // Runs one statement with params bound in order, inside the open
  // transaction (a connection never commits by itself). rows, when given,
  // receives the result rows. False on failure; LastError() says why.
  virtual bool Execute(std::string_view sql, const std::vector<SqlParam>& params,
                       std::vector<SqlRow>* rows) = 0;
  // Runs a statement without parameters as Execute does, bounded by
  // seconds in place of the connection's timeout: a change of the tables
  // that reads every row (an index made on a table of millions).
  virtual bool ExecuteLong(std::string_view sql, uint32_t seconds) {
    (void)seconds;
    return Execute(sql, {}, nullptr);
  }
  virtual bool Commit() = 0;
  virtual bool Rollback() = 0;
  // The database's own name for itself (SQL_DBMS_NAME), e.g. "PostgreSQL".
  virtual std::string ProductName() = 0;
  virtual std::string LastError() const = 0;
  // Whether the last failure lost the connection, rather than one statement.
  virtual bool Lost() const = 0;
};

// A password as the registry keeps it: sealed for this machine on Windows
// (DPAPI, REG_BINARY), a REG_SZ of root's store elsewhere. type kRegNone:
// no password.
struct SealedPassword {
  uint32_t type = 0;
  std::string data;
};

class SqlConnector {
 public:
  virtual ~SqlConnector() = default;
  // connection: an ODBC connection string or "DSN=..."; the password, once
  // opened, is added as PWD when not empty. Every wait of the connection is
  // bounded by timeoutSeconds. Null on failure, with *error saying why.
  virtual std::unique_ptr<SqlConnection> Connect(const std::string& connection,
                                                 const SealedPassword& password,
                                                 uint32_t timeoutSeconds, std::string* error) = 0;
};

SqlConnector& PlatformSql();

// A driver may write files of its own (logs its configuration or the
// connection string asks for), the password in them: a program that
// connects calls this first, so that they are its user's alone (POSIX:
// umask 077; on Windows the folder's rights decide).
void KeepDriverFilesPrivate();

// Seals password for the registry value purpose names ("DatabasePassword",
// "MailPassword"), and opens it again; the error says what an administrator
// is to do, setBy being the command that sets the value.
bool SealPassword(const std::string& purpose, const std::string& password, SealedPassword* sealed,
                  std::string* error);
bool OpenPassword(const std::string& purpose, const SealedPassword& sealed, std::string* password,
                  std::string* error, const std::string& setBy = "pelkodb --set-password");

// Seals password for the value `name` and stores it under keyPath of
// HKLM; false with *error saying what to do when either step fails.
bool StoreSealedPassword(Registry& registry, const std::string& keyPath, const std::string& name,
                         const std::string& password, std::string* error);

}  // namespace pelko
