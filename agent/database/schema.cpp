#include "agent/database/schema.h"

#include <cstdlib>

#include "agent/util/unicode.h"

namespace pelko::database {

namespace {

bool IsSqlServer(const std::string& productName) {
  return productName.find("SQL Server") != std::string::npos;
}

std::string Text(const std::string& product, std::size_t chars) {
  return (IsSqlServer(product) ? "NVARCHAR(" : "VARCHAR(") + std::to_string(chars) + ")";
}

}  // namespace

std::string TruncateServer(const std::string& name) {
  return TruncateUtf8(LogTextToUtf8(name), kServerChars);
}

std::vector<std::string> SchemaStatements(const std::string& product) {
  const std::string name = Text(product, kNameChars);
  return {
      "CREATE TABLE pelko_jobs ("
      "server_name " + Text(product, kServerChars) + " NOT NULL, "
      "printer " + name + " NOT NULL, "
      "log_date CHAR(8) NOT NULL, "
      "job_id INTEGER NOT NULL, "
      "user_name " + name + " NOT NULL, "
      "document " + Text(product, kDocumentChars) + " NOT NULL, "
      "pages INTEGER NOT NULL, "
      "cost INTEGER NOT NULL, "
      "job_date " + Text(product, 10) + " NOT NULL, "
      "job_time " + Text(product, 8) + " NOT NULL, "
      "PRIMARY KEY (server_name, printer, log_date, job_id))",
      // The reports take a range of dates and group by one column.
      "CREATE INDEX pelko_jobs_by_date ON pelko_jobs (log_date) "
      "INCLUDE (server_name, printer, user_name, pages, cost)",
      "CREATE INDEX pelko_jobs_by_user ON pelko_jobs (user_name, log_date)",
      // What was sent of each log file: nothing is read again while its
      // size and time of writing stay.
      "CREATE TABLE pelko_log_state ("
      "server_name " + Text(product, kServerChars) + " NOT NULL, "
      "log_file " + Text(product, 400) + " NOT NULL, "
      "size_bytes BIGINT NOT NULL, "
      "written BIGINT NOT NULL, "
      "PRIMARY KEY (server_name, log_file))",
      "CREATE TABLE pelko_schema_version (version INTEGER NOT NULL)",
      "INSERT INTO pelko_schema_version (version) VALUES (" + std::to_string(kSchemaVersion) + ")",
  };
}

bool EnsureSchema(SqlConnection& connection, std::string* error) {
  std::vector<SqlRow> rows;
  if (connection.Execute("SELECT MAX(version) FROM pelko_schema_version", {}, &rows)) {
    connection.Rollback();
    const int version = rows.empty() || rows[0].empty() ? 0 : std::atoi(rows[0][0].c_str());
    if (version == kSchemaVersion) return true;
    *error = "the database holds Pelko tables of version " + std::to_string(version) +
             ", this agent knows version " + std::to_string(kSchemaVersion);
    return false;
  }
  // No version table: a database without our tables. The failed statement
  // spoilt the transaction on some databases.
  if (connection.Lost() || !connection.Rollback()) {
    *error = connection.LastError();
    return false;
  }
  for (const std::string& statement : SchemaStatements(connection.ProductName())) {
    if (!connection.Execute(statement, {}, nullptr)) {
      *error = "cannot make the tables: " + connection.LastError();
      connection.Rollback();
      return false;
    }
  }
  if (connection.Commit()) return true;
  *error = "cannot make the tables: " + connection.LastError();
  return false;
}

}  // namespace pelko::database
