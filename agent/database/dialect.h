// What the SQL of each database the agent writes to says its own way: the
// type of texts, an added column, an index's carried columns, and the
// statement that writes many job rows at once, each new or in place of the
// row of its key. Everything else the agent sends reads alike in all.
#pragma once

#include <cstddef>
#include <string>

namespace pelko::database {

enum class Engine { kPostgreSql, kMariaDb, kSqlServer };

// The engine a database names itself as (SQL_DBMS_NAME): MySQL counts as
// MariaDB, and any other as PostgreSQL, whose SQL is the standard's.
Engine EngineOf(const std::string& productName);

// A text column of chars characters.
std::string TextType(Engine engine, std::size_t chars);
// "ALTER TABLE pelko_jobs ADD ..." of a column that a step cut short may
// have added already, where the engine can say so.
std::string AddColumn(Engine engine, const std::string& table);
// An index of pelko_jobs on key that also carries the columns carried.
std::string CreateIndex(Engine engine, const std::string& name, const std::string& key,
                        const std::string& carried);

// The columns of a job row in the order its parameters are bound: the key's
// first, then what the row holds beside it.
inline constexpr char kJobRowColumns[] =
    "server_name, printer, log_date, job_id, job_date, job_time, user_name, document, pages, "
    "cost, copies, color_pages, mono_pages, sides, paper, client, color_from";
inline constexpr std::size_t kJobRowParams = 17;

// The statement that writes rows job rows (kJobRowParams parameters each),
// each replacing the row of its key where there is one.
std::string UpsertJobRows(Engine engine, std::size_t rows);
// The most rows one such statement takes, a power of two (SQL Server takes
// 2100 parameters; psqlODBC dropped the connection at 512 rows).
std::size_t MostJobRowsAtOnce(Engine engine);

}  // namespace pelko::database
