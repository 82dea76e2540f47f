#include "agent/database/row_batch.h"

#include <cstdint>
#include <cstdio>

namespace pelko::database {

namespace {

// SQL Server takes at most 2 100 parameters a statement.
constexpr std::size_t kMostParams = 2099;

// An element of a PostgreSQL array literal: a text quoted, its quotes and
// backslashes escaped.
void AppendArrayElement(const SqlParam& value, std::string* array) {
  if (value.isNull) {
    *array += "NULL";
  } else if (!value.isText) {
    *array += std::to_string(value.number);
  } else {
    *array += '"';
    for (char c : value.text) {
      if (c == '"' || c == '\\') *array += '\\';
      *array += c;
    }
    *array += '"';
  }
}

// A JSON value; texts are UTF-8 already, which JSON takes as it is.
void AppendJson(const SqlParam& value, std::string* json) {
  if (value.isNull) {
    *json += "null";
  } else if (!value.isText) {
    *json += std::to_string(value.number);
  } else {
    *json += '"';
    for (char c : value.text) {
      if (c == '"' || c == '\\') {
        *json += '\\';
        *json += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
        *json += escaped;
      } else {
        *json += c;
      }
    }
    *json += '"';
  }
}

}  // namespace

std::size_t MostRowsAtOnce(Engine engine, std::size_t columns) {
  if (engine != Engine::kSqlServer) return SIZE_MAX;
  std::size_t most = 1;
  while (most * 2 * columns <= kMostParams) most *= 2;
  return most;
}

RowBatch::RowBatch(Engine engine, std::span<const ValueType> columns, Send send)
    : engine(engine), columns(columns), send(std::move(send)) {}

bool RowBatch::Add(const std::vector<SqlParam>& row) {
  switch (engine) {
    case Engine::kPostgreSql:
      values.resize(columns.size());
      for (std::size_t c = 0; c < columns.size(); ++c) {
        std::string& array = values[c].text;
        const std::size_t before = array.size();
        array += rows == 0 ? '{' : ',';
        AppendArrayElement(row[c], &array);
        bytes += array.size() - before;
      }
      break;
    case Engine::kMariaDb: {
      values.resize(1);
      std::string& json = values[0].text;
      const std::size_t before = json.size();
      json += rows == 0 ? "[[" : ",[";
      for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c != 0) json += ',';
        AppendJson(row[c], &json);
      }
      json += ']';
      bytes += json.size() - before;
      break;
    }
    case Engine::kSqlServer:
      values.insert(values.end(), row.begin(), row.end());
      break;
  }
  ++rows;
  if (rows == MostRowsAtOnce(engine, columns.size()) || bytes >= kMostBatchBytes) {
    return SendRows(rows);
  }
  return true;
}

bool RowBatch::Finish() {
  if (engine != Engine::kSqlServer) return rows == 0 || SendRows(rows);
  while (rows > 0) {
    std::size_t count = MostRowsAtOnce(engine, columns.size());
    while (count > rows) count /= 2;
    if (!SendRows(count)) return false;
  }
  return true;
}

bool RowBatch::SendRows(std::size_t count) {
  std::vector<SqlParam> params;
  if (engine == Engine::kSqlServer) {
    const auto end = values.begin() + static_cast<std::ptrdiff_t>(count * columns.size());
    params.assign(values.begin(), end);
    values.erase(values.begin(), end);
  } else {
    params.swap(values);  // every row at once
    for (SqlParam& param : params) param.text += engine == Engine::kPostgreSql ? "}" : "]";
  }
  rows -= count;
  bytes = 0;
  return send(Source(count), params);
}

std::string RowBatch::Source(std::size_t count) const {
  std::string source;
  switch (engine) {
    case Engine::kPostgreSql:
      source = "SELECT * FROM unnest(";
      for (std::size_t c = 0; c < columns.size(); ++c) {
        source += std::string(c == 0 ? "" : ", ") + "CAST(? AS " +
                  (columns[c] == ValueType::kText ? "text" : "bigint") + "[])";
      }
      return source + ")";
    case Engine::kMariaDb:
      source = "SELECT * FROM JSON_TABLE(?, '$[*]' COLUMNS (";
      for (std::size_t c = 0; c < columns.size(); ++c) {
        source +=
            std::string(c == 0 ? "" : ", ") + "c" + std::to_string(c) +
            (columns[c] == ValueType::kText ? " VARCHAR(1024) CHARACTER SET utf8mb4" : " BIGINT") +
            " PATH '$[" + std::to_string(c) + "]'";
      }
      return source + ")) AS batch";
    case Engine::kSqlServer: {
      std::string one = "(?";
      for (std::size_t c = 1; c < columns.size(); ++c) one += ", ?";
      one += ")";
      source = "VALUES ";
      for (std::size_t r = 0; r < count; ++r) source += (r == 0 ? "" : ", ") + one;
      return source;
    }
  }
  return source;
}

}  // namespace pelko::database
