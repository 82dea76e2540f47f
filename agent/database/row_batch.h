// Many rows written by one statement of few parameters, each database its
// own way: PostgreSQL takes each column as one array (unnest), MariaDB all
// the rows as one JSON text (JSON_TABLE), SQL Server a parameter a value
// (VALUES, at most 2 100 of them). Bound a value at a time, a statement of
// 128 rows cost the agent and the ODBC driver more time than the database
// took to write them.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "agent/database/dialect.h"
#include "agent/platform/sql.h"

namespace pelko::database {

enum class ValueType { kText, kNumber };

// What one statement should carry at most: some megabyte of values, so
// that none comes near a server's limit on a packet (MariaDB's 16 MB) or
// outlasts the bound on a statement.
inline constexpr std::size_t kMostBatchBytes = 1 << 20;

class RowBatch {
 public:
  // send gets the rows as a source of INSERT ... SELECT (or of MERGE ...
  // USING), "SELECT ..." or "VALUES ...", and its parameters.
  using Send = std::function<bool(const std::string& source, const std::vector<SqlParam>& params)>;

  RowBatch(Engine engine, std::span<const ValueType> columns, Send send);

  // row holds one value per column; a full batch is sent at once.
  bool Add(const std::vector<SqlParam>& row);
  // Sends the rows not sent yet: where every size of statement is a text of
  // its own (SQL Server's), in halves, so that the connection keeps few of
  // them prepared.
  bool Finish();

 private:
  bool SendRows(std::size_t count);
  std::string Source(std::size_t count) const;

  Engine engine;
  std::span<const ValueType> columns;
  Send send;
  std::size_t rows = 0;
  std::size_t bytes = 0;
  // PostgreSQL: an array literal a column; MariaDB: one JSON array of rows;
  // SQL Server: the values row by row.
  std::vector<SqlParam> values;
};

// The most rows of so many columns one SQL Server statement takes (a power
// of two); PostgreSQL and MariaDB take any number, bounded by bytes.
std::size_t MostRowsAtOnce(Engine engine, std::size_t columns);

}  // namespace pelko::database
