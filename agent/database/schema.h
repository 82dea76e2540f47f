// The tables the agent keeps in the database, made by the agent when they
// are missing. The SQL is what PostgreSQL, MariaDB and SQL Server all
// accept, but where dialect.h says each its own way.
#pragma once

#include <string>
#include <vector>

#include "agent/database/column_widths.h"
#include "agent/platform/sql.h"

namespace pelko::database {

// Raised with every change of the tables, with a step in schema.cpp that
// brings the version before to it; a database of a later version is left
// alone.
inline constexpr int kSchemaVersion = 5;

// The server's name as its column holds it.
std::string TruncateServer(const std::string& name);

// The statements that make the schema of kSchemaVersion, in order, for the
// database named productName (SQL_DBMS_NAME).
std::vector<std::string> SchemaStatements(const std::string& productName);

// Makes the schema when the database has none and brings an earlier
// version to kSchemaVersion (*upgradedFrom, when given, says from which; 0
// when nothing was upgraded); false (and *error) when it cannot, or the
// database holds a later version than this agent knows.
bool EnsureSchema(SqlConnection& connection, std::string* error, int* upgradedFrom = nullptr);

}  // namespace pelko::database
