// What the SQL of each database the agent writes to says its own way: the
// type of texts, an added column, an index's carried columns, texts told
// apart byte for byte, and the statements that write many job rows, or add
// to many sums, at once. Everything else the agent and the report send
// reads alike in all.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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
// "IF NOT EXISTS " after CREATE TABLE or CREATE INDEX where the engine
// takes it: a step of MariaDB, which commits at each, may be cut between
// two and run again. SQL Server, whose steps a cut undoes whole, takes none.
std::string IfNotExists(Engine engine);
// The statements that hold off other upgraders for the whole of an upgrade,
// and let them go, where the lock of the version's row does not (MariaDB
// commits at each CREATE, ALTER and DROP, which lets that lock go); empty
// where it does. The first answers 1 once held.
std::string HoldUpgrade(Engine engine);
std::string ReleaseUpgrade(Engine engine);
// The same for making the tables where there are none, which no row can
// guard: agents that find none at once make them one after the other, and
// all but the first find them made. PostgreSQL's lets go at the end of the
// transaction (the second statement is empty there); SQL Server, untested,
// takes none, and a loser of that race connects again later.
std::string HoldMaking(Engine engine);
std::string ReleaseMaking(Engine engine);
// What a report's connection sets before it groups the sums, where the
// engine needs it; empty where not. MariaDB keeps a grouping of more than
// 16 MB (some 16 000 users' sums) on disk by default, ten times slower;
// PostgreSQL sorts on disk what passes 4 MB (some 5 000 users).
std::string ReportSession(Engine engine);
// What the agent's connection sets before it sends, where the engine needs
// it. PostgreSQL keeps a plan of a prepared statement once made for any
// parameters: the read-back of a printer's day, planned while the table was
// nearly empty, went on reading the whole table, and each file of a first
// sync took longer than the one before. And it need not wait for each
// commit to reach the disk: a transaction the server loses in a crash lost
// the connection with it, and the agent, connecting anew, reads what was
// sent from the database and sends the rest again from the daily logs.
std::vector<std::string> SyncSession(Engine engine);
// pelko_job_sums as a report names it after FROM: read whole where wide
// (a range of many months, or unbounded) on MariaDB, whose way through the
// index on kind and period looks up each row in the table (three times
// slower a row than reading the table through).
std::string JobSumsFrom(Engine engine, bool wide);
// A query of one parameter, a table's name: 1 where the database holds it,
// in the schema the connection works in, else 0.
std::string TableExists(Engine engine);
// An index of pelko_jobs on key that also carries the columns carried.
std::string CreateIndex(Engine engine, const std::string& name, const std::string& key,
                        const std::string& carried);
// "DROP INDEX" of table's index name where there is one.
std::string DropIndex(Engine engine, const std::string& table, const std::string& name);

// A text column of chars characters that a key or a grouping tells apart
// byte for byte: MariaDB and SQL Server compare texts without case (and
// MariaDB "a" and "a " alike) by default, which would merge two users'
// sums into one.
std::string ExactTextType(Engine engine, std::size_t chars);
// A text expression as GROUP BY is to tell its values apart: byte for byte.
std::string ExactGroup(Engine engine, const std::string& expression);

// The columns of a job row in the order its parameters are bound: the key's
// first, then what the row holds beside it.
inline constexpr char kJobRowColumns[] =
    "server_name, printer, log_date, job_id, job_date, job_time, user_name, document, pages, "
    "cost, copies, color_pages, mono_pages, sides, paper, client, color_from";
inline constexpr std::size_t kJobRowParams = 17;

// The statement that writes the job rows of source ("VALUES (...), ..." or a
// SELECT, in the order of kJobRowColumns), each replacing the row of its
// key where there is one.
std::string UpsertJobRows(Engine engine, const std::string& source);
// The statement that writes the job rows of source where the table holds
// none of their keys.
std::string InsertJobRows(Engine engine, const std::string& source);

// The columns of a row of pelko_job_sums in the order its parameters are
// bound: the key's five, then the figures added to it.
inline constexpr char kJobSumColumns[] =
    "server_name, kind, period, job_date, name, jobs, pages, cost, color_pages, mono_pages, "
    "untold_pages, told_jobs";
inline constexpr std::size_t kJobSumParams = 12;
// The figures of a group of job rows, in the order of the columns above, as
// a report counts them: mono pages only of a job whose colour pages are told.
inline constexpr char kJobFigures[] =
    "COUNT(*), COALESCE(SUM(pages), 0), COALESCE(SUM(cost), 0), COALESCE(SUM(color_pages), 0), "
    "COALESCE(SUM(CASE WHEN color_pages IS NULL THEN 0 ELSE mono_pages END), 0), "
    "COALESCE(SUM(CASE WHEN color_pages IS NULL THEN pages ELSE 0 END), 0), COUNT(color_pages)";

// The statement that adds the rows of source ("VALUES (...), ..." or a
// SELECT, in the order of kJobSumColumns) to pelko_job_sums: a row's
// figures added to those of the row of its key where there is one. No two
// rows of source may share a key.
std::string AddToJobSums(Engine engine, const std::string& source);

}  // namespace pelko::database
