#include "agent/database/dialect.h"

#include <iterator>

namespace pelko::database {

namespace {

constexpr const char* kKeyColumns[] = {"server_name", "printer",  "log_date",
                                       "job_id",      "job_date", "job_time"};
constexpr const char* kValueColumns[] = {"user_name", "document",    "pages",      "cost",
                                         "copies",    "color_pages", "mono_pages", "sides",
                                         "paper",     "client",      "color_from"};
static_assert(std::size(kKeyColumns) + std::size(kValueColumns) == kJobRowParams);

constexpr const char* kSumKeyColumns[] = {"server_name", "kind", "period", "job_date", "name"};
constexpr const char* kSumFigureColumns[] = {
    "jobs", "pages", "cost", "color_pages", "mono_pages", "untold_pages", "told_jobs"};
static_assert(std::size(kSumKeyColumns) + std::size(kSumFigureColumns) == kJobSumParams);

// "user_name = <from>user_name<to>, ...": what an upsert sets of a row.
std::string SetValues(const std::string& from, const std::string& to = "") {
  std::string set;
  for (const char* column : kValueColumns) {
    set += std::string(set.empty() ? "" : ", ") + column + " = " + from + column + to;
  }
  return set;
}

}  // namespace

Engine EngineOf(const std::string& productName) {
  if (productName.find("SQL Server") != std::string::npos) return Engine::kSqlServer;
  if (productName.find("MariaDB") != std::string::npos ||
      productName.find("MySQL") != std::string::npos) {
    return Engine::kMariaDb;
  }
  return Engine::kPostgreSql;
}

std::string TextType(Engine engine, std::size_t chars) {
  return (engine == Engine::kSqlServer ? "NVARCHAR(" : "VARCHAR(") + std::to_string(chars) + ")";
}

std::string AddColumn(Engine engine, const std::string& table) {
  return "ALTER TABLE " + table +
         (engine == Engine::kSqlServer ? " ADD " : " ADD COLUMN IF NOT EXISTS ");
}

std::string IfNotExists(Engine engine) {
  return engine == Engine::kSqlServer ? "" : "IF NOT EXISTS ";
}

std::string HoldUpgrade(Engine engine) {
  // A lock of the session, which a commit keeps; bounded as a statement is.
  return engine == Engine::kMariaDb ? "SELECT GET_LOCK('pelko_schema_upgrade', 10)" : "";
}

std::string ReleaseUpgrade(Engine engine) {
  return engine == Engine::kMariaDb ? "SELECT RELEASE_LOCK('pelko_schema_upgrade')" : "";
}

std::string HoldMaking(Engine engine) {
  switch (engine) {
    case Engine::kMariaDb:
      return HoldUpgrade(engine);
    case Engine::kPostgreSql:
      // The key is "Pelko" in ASCII; bounded as any statement is.
      return "SELECT COUNT(*) FROM (SELECT pg_advisory_xact_lock(345298987887)) AS held";
    case Engine::kSqlServer:
      break;
  }
  return "";
}

std::string ReleaseMaking(Engine engine) { return ReleaseUpgrade(engine); }

std::string ReportSession(Engine engine) {
  switch (engine) {
    case Engine::kMariaDb:
      return "SET SESSION max_heap_table_size = 268435456, tmp_table_size = 268435456";
    case Engine::kPostgreSql:
      return "SET work_mem = '64MB'";
    case Engine::kSqlServer:
      break;
  }
  return "";
}

std::vector<std::string> SyncSession(Engine engine) {
  if (engine != Engine::kPostgreSql) return {};
  return {"SET plan_cache_mode = force_custom_plan", "SET synchronous_commit = off"};
}

std::string JobSumsFrom(Engine engine, bool wide) {
  if (engine == Engine::kMariaDb && wide) {
    return "pelko_job_sums IGNORE INDEX (pelko_job_sums_by_period)";
  }
  return "pelko_job_sums";
}

std::string TableExists(Engine engine) {
  const char* schema = engine == Engine::kMariaDb     ? "DATABASE()"
                       : engine == Engine::kSqlServer ? "SCHEMA_NAME()"
                                                      : "current_schema()";
  return std::string("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = ") +
         schema + " AND table_name = ?";
}

std::string ExactTextType(Engine engine, std::size_t chars) {
  switch (engine) {
    case Engine::kMariaDb:
      return TextType(engine, chars) + " CHARACTER SET utf8mb4 COLLATE utf8mb4_nopad_bin";
    case Engine::kSqlServer:
      return TextType(engine, chars) + " COLLATE Latin1_General_100_BIN2";
    case Engine::kPostgreSql:
      break;
  }
  return TextType(engine, chars);
}

std::string ExactGroup(Engine engine, const std::string& expression) {
  switch (engine) {
    case Engine::kMariaDb:
      return "BINARY " + expression;
    case Engine::kSqlServer:
      return expression + " COLLATE Latin1_General_100_BIN2";
    case Engine::kPostgreSql:
      break;
  }
  return expression;
}

std::string CreateIndex(Engine engine, const std::string& name, const std::string& key,
                        const std::string& carried) {
  // MariaDB's indexes carry no columns beside their key: they join it.
  return "CREATE INDEX " + IfNotExists(engine) + name + " ON pelko_jobs (" + key +
         (engine == Engine::kMariaDb ? ", " + carried + ")" : ") INCLUDE (" + carried + ")");
}

std::string DropIndex(Engine engine, const std::string& table, const std::string& name) {
  // PostgreSQL's indexes are named in the schema, the others' in the table.
  return "DROP INDEX IF EXISTS " + name + (engine == Engine::kPostgreSql ? "" : " ON " + table);
}

std::string UpsertJobRows(Engine engine, const std::string& source) {
  const std::string columns = kJobRowColumns;
  switch (engine) {
    case Engine::kMariaDb:
      return "INSERT INTO pelko_jobs (" + columns + ") " + source + " ON DUPLICATE KEY UPDATE " +
             SetValues("VALUES(", ")");
    case Engine::kSqlServer: {
      std::string on;
      for (const char* column : kKeyColumns) {
        on += std::string(on.empty() ? "" : " AND ") + "t." + column + " = s." + column;
      }
      std::string values;
      for (const char* column : kKeyColumns)
        values += std::string(values.empty() ? "" : ", ") + "s." + column;
      for (const char* column : kValueColumns) values += std::string(", s.") + column;
      return "MERGE INTO pelko_jobs WITH (HOLDLOCK) AS t USING (" + source + ") AS s (" + columns +
             ") ON " + on + " WHEN MATCHED THEN UPDATE SET " + SetValues("s.") +
             " WHEN NOT MATCHED THEN INSERT (" + columns + ") VALUES (" + values + ");";
    }
    case Engine::kPostgreSql:
      break;
  }
  std::string key;
  for (const char* column : kKeyColumns) key += std::string(key.empty() ? "" : ", ") + column;
  return "INSERT INTO pelko_jobs (" + columns + ") " + source + " ON CONFLICT (" + key +
         ") DO UPDATE SET " + SetValues("EXCLUDED.");
}

std::string InsertJobRows(Engine engine, const std::string& source) {
  (void)engine;  // alike in all
  return std::string("INSERT INTO pelko_jobs (") + kJobRowColumns + ") " + source;
}

std::string AddToJobSums(Engine engine, const std::string& source) {
  const std::string columns = kJobSumColumns;
  std::string set, key;
  switch (engine) {
    case Engine::kMariaDb:
      for (const char* column : kSumFigureColumns) {
        set += std::string(set.empty() ? "" : ", ") + column + " = " + column + " + VALUES(" +
               column + ")";
      }
      return "INSERT INTO pelko_job_sums (" + columns + ") " + source +
             " ON DUPLICATE KEY UPDATE " + set;
    case Engine::kSqlServer: {
      std::string values;
      for (const char* column : kSumKeyColumns) {
        key += std::string(key.empty() ? "" : " AND ") + "t." + column + " = s." + column;
      }
      for (const char* column : kSumFigureColumns) {
        set += std::string(set.empty() ? "" : ", ") + column + " = t." + column + " + s." + column;
      }
      for (const char* column : kSumKeyColumns)
        values += std::string(values.empty() ? "" : ", ") + "s." + column;
      for (const char* column : kSumFigureColumns) values += std::string(", s.") + column;
      return "MERGE INTO pelko_job_sums WITH (HOLDLOCK) AS t USING (" + source + ") AS s (" +
             columns + ") ON " + key + " WHEN MATCHED THEN UPDATE SET " + set +
             " WHEN NOT MATCHED THEN INSERT (" + columns + ") VALUES (" + values + ");";
    }
    case Engine::kPostgreSql:
      break;
  }
  for (const char* column : kSumKeyColumns) key += std::string(key.empty() ? "" : ", ") + column;
  for (const char* column : kSumFigureColumns) {
    set += std::string(set.empty() ? "" : ", ") + column + " = pelko_job_sums." + column +
           " + EXCLUDED." + column;
  }
  return "INSERT INTO pelko_job_sums (" + columns + ") " + source + " ON CONFLICT (" + key +
         ") DO UPDATE SET " + set;
}

}  // namespace pelko::database
