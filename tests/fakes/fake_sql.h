// An in-memory database that answers the statements of the database sink
// and of the schema's upgrade (recognised by their start), with
// transactions, the tables' primary keys (a doubled row is an error, as in a
// real database) and faults on demand.
#pragma once

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "agent/platform/sql.h"

namespace pelko {

struct FakeSqlTables {
  // (server, printer, log date, job id, date, time) -> user, document,
  // pages, cost, date, time, and where a job has details its colour and
  // mono pages (none: NULL).
  using JobKey =
      std::tuple<std::string, std::string, std::string, int64_t, std::string, std::string>;
  using Jobs = std::map<JobKey, std::vector<std::string>>;
  Jobs jobs;
  Jobs holding;  // pelko_jobs_v1, while an upgrade runs
  std::map<std::pair<std::string, std::string>, std::pair<int64_t, int64_t>> states;
  // pelko_job_sums: (server, kind, period, job date, name) -> jobs, pages,
  // cost, colour, mono, untold pages, told jobs.
  using SumKey = std::tuple<std::string, std::string, std::string, std::string, std::string>;
  std::map<SumKey, std::vector<int64_t>> sums;
  bool syncState = false;  // pelko_log_state is pelko_sync_state (version 4)
  int version = 0;         // of pelko_schema_version; 0: no tables
  bool oldKey = false;     // pelko_jobs keyed as in version 1: (server, printer, log date, job id)
  bool detailColumns = false;  // pelko_jobs has the columns of version 3
};

class FakeSqlDatabase : public SqlConnector {
 public:
  std::unique_ptr<SqlConnection> Connect(const std::string& connection,
                                         const SealedPassword& sealed, uint32_t,
                                         std::string* error) override;

  FakeSqlTables committed;
  std::string password = "secret";  // what the database takes
  bool down = false;                // refuses every connection
  int failAfterStatements = -1;     // the connection is lost at that statement
  int deadlocks = 0;  // so many writes of job rows undo their transaction, as to end a deadlock
  int statements = 0;
  int connects = 0;
  int rowsWritten = 0;  // by INSERT or UPDATE, each row of a statement counted
};

class FakeSqlConnection : public SqlConnection {
 public:
  explicit FakeSqlConnection(FakeSqlDatabase& database)
      : database(database), pending(database.committed) {}

  bool Execute(std::string_view sent, const std::vector<SqlParam>& sentParams,
               std::vector<SqlRow>* rows) override {
    // Rows sent as a column an array are taken as they would be a value a
    // parameter.
    const std::vector<SqlParam> params =
        sent.find("unnest(") != std::string_view::npos ? RowsOfArrays(sentParams) : sentParams;
    // Made where it is not yet: the fake's tables are made whole or not at all.
    std::string plain(sent);
    if (const std::size_t at = plain.find("IF NOT EXISTS "); at != std::string::npos)
      plain.erase(at, 14);
    const std::string_view sql = plain;
    if (lost || database.down || database.failAfterStatements == 0) return Lose();
    if (database.failAfterStatements > 0) --database.failAfterStatements;
    if (database.deadlocks > 0 && sql.substr(0, 22) == "INSERT INTO pelko_jobs") {
      --database.deadlocks;
      spoilt = true;
      error = "40P01: deadlock detected";
      return false;
    }
    ++database.statements;
    auto text = [&](std::size_t i) { return params.at(i).text; };
    auto number = [&](std::size_t i) { return params.at(i).number; };
    auto shown = [&](std::size_t i) {
      const SqlParam& p = params.at(i);
      return p.isNull ? std::string() : p.isText ? p.text : std::to_string(p.number);
    };
    // A row from the values of an INSERT or UPDATE from first on (as the
    // database sink sends them), its date and time from the key's; after
    // the colour and mono pages the other details: copies, sides, paper,
    // client and colorfrom (a NULL text as "").
    auto values = [&](std::size_t first, std::size_t date) {
      std::vector<std::string> row = {shown(first),     shown(first + 1), shown(first + 2),
                                      shown(first + 3), text(date),       text(date + 1)};
      if (!params.at(first + 4).isNull) {
        for (std::size_t i : {5, 6, 4, 7, 8, 9, 10}) row.push_back(shown(first + i));
      }
      return row;
    };
    auto starts = [&](std::string_view head) { return sql.substr(0, head.size()) == head; };
    const bool withDetails = sql.find("color_from") != std::string_view::npos;
    if (withDetails && !pending.detailColumns && !starts("ALTER") && !starts("CREATE")) {
      return Refuse("no such column color_from");
    }
    auto dayOf = [&](const FakeSqlTables::JobKey& key) {
      return std::get<2>(key) == text(0) && std::get<0>(key) == text(1);
    };
    auto stateTable = [&] {
      return pending.version == 0 ||
             pending.syncState == (sql.find("pelko_sync_state") != std::string_view::npos);
    };
    if ((starts("SELECT log_file") || starts("INSERT INTO pelko_") || starts("UPDATE pelko_")) &&
        sql.find("_state") != std::string_view::npos && !stateTable()) {
      return Refuse("no such table");
    }
    if (starts("SELECT MAX(version)")) {
      if (pending.version == 0) return Refuse("no such table");
      rows->push_back({std::to_string(pending.version)});
    } else if (starts("INSERT INTO pelko_schema_version")) {
      pending.version = std::stoi(std::string(sql.substr(sql.find("VALUES (") + 8)));
    } else if (starts("UPDATE pelko_schema_version SET version = ?")) {
      pending.version = static_cast<int>(number(0));
    } else if (starts("CREATE TABLE pelko_jobs (")) {
      pending.oldKey = sql.find("job_id, job_date, job_time)") == std::string_view::npos;
      pending.detailColumns = withDetails;
    } else if (starts("ALTER TABLE pelko_jobs ADD") && withDetails) {
      pending.detailColumns = true;
    } else if (starts("CREATE TABLE pelko_sync_state") ||
               starts("ALTER TABLE pelko_log_state RENAME")) {
      pending.syncState = true;
    } else if (starts("SELECT COUNT(*) FROM information_schema")) {
      const bool held = text(0) == "pelko_log_state" ? pending.version != 0 && !pending.syncState
                        : text(0) == "pelko_schema_version" ? pending.version != 0
                                                            : false;
      rows->push_back({held ? "1" : "0"});
    } else if (starts("SELECT COUNT(*) FROM (SELECT pg_advisory_xact_lock(")) {
      rows->push_back({"1"});
    } else if (starts("SELECT MIN(log_date), MAX(log_date)")) {
      rows->push_back({"", ""});
      for (const auto& [key, value] : pending.jobs) {
        std::string& least = rows->back()[0];
        std::string& most = rows->back()[1];
        if (least.empty() || std::get<2>(key) < least) least = std::get<2>(key);
        if (std::get<2>(key) > most) most = std::get<2>(key);
      }
    } else if (starts("DELETE FROM pelko_job_sums")) {
      pending.sums.clear();
    } else if (starts("INSERT INTO pelko_job_sums") && sql.find("FROM pelko_jobs") != sql.npos) {
      const char kind = sql[sql.find("SELECT MIN(server_name), '") + 26];
      for (const auto& [key, value] : pending.jobs) {
        if (std::get<2>(key) >= text(0) && std::get<2>(key) < text(1))
          AddToSums(pending, kind, key, value);
      }
    } else if (starts("INSERT INTO pelko_job_sums")) {
      for (std::size_t at = 0; at + 12 <= params.size(); at += 12) {
        std::vector<int64_t>& sum =
            pending.sums[{text(at), text(at + 1), text(at + 2), text(at + 3), text(at + 4)}];
        sum.resize(7);
        for (std::size_t i = 0; i < 7; ++i) sum[i] += number(at + 5 + i);
      }
    } else if (starts("CREATE") || starts("UPDATE pelko_schema_version") || starts("ALTER") ||
               starts("SET ") || starts("DROP INDEX")) {
    } else if (starts("SELECT DISTINCT log_date, server_name")) {
      std::set<SqlRow> days;
      for (const auto& [key, value] : pending.jobs)
        days.insert({std::get<2>(key), std::get<0>(key)});
      rows->assign(days.begin(), days.end());
    } else if (starts("INSERT INTO pelko_jobs_v1")) {
      for (const auto& job : pending.jobs) {
        if (dayOf(job.first)) pending.holding.insert(job);
      }
    } else if (starts("INSERT INTO pelko_jobs (") && sql.find("FROM pelko_jobs_v1") != sql.npos) {
      for (const auto& job : pending.holding) {
        if (dayOf(job.first) && !pending.jobs.insert(job).second) return Refuse("duplicate key");
      }
    } else if (starts("DROP TABLE pelko_jobs_v1")) {
      pending.holding.clear();
    } else if (starts("DROP TABLE pelko_jobs")) {
      pending.jobs.clear();
    } else if (starts("SELECT log_file")) {
      for (const auto& [key, value] : pending.states) {
        if (key.first == text(0)) {
          rows->push_back({key.second, std::to_string(value.first), std::to_string(value.second)});
        }
      }
    } else if (starts("SELECT job_id")) {
      for (const auto& [key, value] : pending.jobs) {
        if (std::get<0>(key) == text(0) && std::get<1>(key) == text(1) &&
            std::get<2>(key) == text(2)) {
          SqlRow row{std::to_string(std::get<3>(key)),
                     std::get<4>(key),
                     std::get<5>(key),
                     value[0],
                     value[1],
                     value[2],
                     value[3]};
          if (value.size() > 7) {
            for (std::size_t i : {8, 6, 7, 9, 10, 11, 12}) row.push_back(value[i]);
          }
          row.resize(14);
          rows->push_back(row);
        }
      }
    } else if (starts("INSERT INTO pelko_jobs")) {
      // Rows of 17 parameters each; with ON CONFLICT one replaces the row
      // of its key.
      const bool upsert = sql.find(" ON CONFLICT ") != std::string_view::npos;
      for (std::size_t at = 0; at + 17 <= params.size() || at == 0; at += 17) {
        FakeSqlTables::JobKey key{text(at),       text(at + 1), text(at + 2),
                                  number(at + 3), text(at + 4), text(at + 5)};
        for (const auto& [held, value] : pending.jobs) {
          if (upsert) break;
          if (held == key || (pending.oldKey && std::get<3>(held) == number(at + 3) &&
                              std::get<0>(held) == text(at) && std::get<1>(held) == text(at + 1) &&
                              std::get<2>(held) == text(at + 2))) {
            return Refuse("duplicate key");
          }
        }
        pending.jobs[key] = values(at + 6, at + 4);
        ++database.rowsWritten;
      }
    } else if (starts("UPDATE pelko_jobs")) {
      FakeSqlTables::JobKey key{text(11), text(12), text(13), number(14), text(15), text(16)};
      if (!pending.jobs.count(key)) return Refuse("no row to update");
      pending.jobs[key] = values(0, 15);
      ++database.rowsWritten;
    } else if (starts("INSERT INTO pelko_sync_state") || starts("INSERT INTO pelko_log_state")) {
      auto key = std::make_pair(text(0), text(1));
      if (pending.states.count(key)) return Refuse("duplicate key");
      pending.states[key] = {number(2), number(3)};
    } else if (starts("UPDATE pelko_sync_state") || starts("UPDATE pelko_log_state")) {
      pending.states[std::make_pair(text(2), text(3))] = {number(0), number(1)};
    } else if (starts("SELECT DISTINCT log_date FROM pelko_jobs")) {
      std::set<SqlRow> days;
      for (const auto& [key, value] : pending.jobs) {
        if (std::get<2>(key) >= text(0) && std::get<2>(key) <= text(1))
          days.insert({std::get<2>(key)});
      }
      rows->assign(days.begin(), days.end());
    } else if (starts("SELECT job_date")) {
      for (const auto& [key, value] : pending.jobs) {
        if (std::get<2>(key) != text(0)) continue;
        SqlRow row{value[4], value[5],         std::to_string(std::get<3>(key)),
                   value[0], std::get<1>(key), value[1],
                   value[2], value[3],         std::get<0>(key)};
        if (withDetails) {
          // copies, colour and mono pages, sides, paper, client, colorfrom
          for (std::size_t i : {8, 6, 7, 9, 10, 11, 12})
            row.push_back(i < value.size() ? value[i] : "");
        }
        rows->push_back(row);
      }
    } else {
      return Refuse("unknown statement");
    }
    return true;
  }

  bool Commit() override {
    if (lost || database.down) return Lose();
    if (!spoilt) database.committed = pending;
    pending = database.committed;
    spoilt = false;
    return true;
  }
  bool Rollback() override {
    pending = database.committed;
    spoilt = false;
    return !lost;
  }
  std::string ProductName() override { return "PostgreSQL"; }

  // What a job row adds to the sums of kind ('d', 'u' or 'p'), as a GROUP BY
  // over the rows counts it.
  static void AddToSums(FakeSqlTables& tables, char kind, const FakeSqlTables::JobKey& key,
                        const std::vector<std::string>& value) {
    const std::string& logDate = std::get<2>(key);
    const std::string& jobDate = std::get<4>(key);
    const FakeSqlTables::SumKey sumKey =
        kind == 'd' ? FakeSqlTables::SumKey{std::get<0>(key), "d", logDate, jobDate, ""}
                    : FakeSqlTables::SumKey{std::get<0>(key), std::string(1, kind),
                                            logDate.substr(0, 6), jobDate.substr(0, 7),
                                            kind == 'u' ? value[0] : std::get<1>(key)};
    const bool told = value.size() > 7 && !value[6].empty();
    const int64_t pages = std::stoll(value[2]);
    const int64_t figures[7] = {1,
                                pages,
                                std::stoll(value[3]),
                                told ? std::stoll(value[6]) : 0,
                                told && !value[7].empty() ? std::stoll(value[7]) : 0,
                                told ? 0 : pages,
                                told ? 1 : 0};
    std::vector<int64_t>& sum = tables.sums[sumKey];
    sum.resize(7);
    for (std::size_t i = 0; i < 7; ++i) sum[i] += figures[i];
  }
  std::string LastError() const override { return error; }
  bool Lost() const override { return lost; }

  // The values of array literals ({"text",12,NULL}), a column each, row by row.
  static std::vector<SqlParam> RowsOfArrays(const std::vector<SqlParam>& arrays) {
    std::vector<std::vector<SqlParam>> columns;
    for (const SqlParam& array : arrays) {
      std::vector<SqlParam>& column = columns.emplace_back();
      const std::string& text = array.text;
      for (std::size_t at = 1; at < text.size() && text[at] != '}'; ++at) {
        if (text[at] == '"') {
          std::string value;
          for (++at; text[at] != '"'; ++at) value += text[at] == '\\' ? text[++at] : text[at];
          column.push_back(SqlParam::Text(value));
          ++at;
        } else {
          const std::size_t end = text.find_first_of(",}", at);
          const std::string value = text.substr(at, end - at);
          column.push_back(value == "NULL" ? SqlParam{false, {}, 0, true}
                                           : SqlParam::Number(std::stoll(value)));
          at = end;
        }
      }
    }
    std::vector<SqlParam> rows;
    for (std::size_t r = 0; !columns.empty() && r < columns[0].size(); ++r) {
      for (const auto& column : columns) rows.push_back(column.at(r));
    }
    return rows;
  }

 private:
  bool Lose() {
    lost = true;
    error = "08006: connection lost";
    return false;
  }
  bool Refuse(const std::string& why) {
    spoilt = true;
    error = "42000: " + why;
    return false;
  }

  FakeSqlDatabase& database;
  FakeSqlTables pending;
  bool lost = false;
  bool spoilt = false;
  std::string error;
};

inline std::unique_ptr<SqlConnection> FakeSqlDatabase::Connect(const std::string&,
                                                               const SealedPassword& sealed,
                                                               uint32_t, std::string* error) {
  ++connects;
  if (down) {
    *error = "08001: could not connect to server";
    return nullptr;
  }
  if (std::string(sealed.data.c_str()) != password) {
    *error = "28P01: password authentication failed";
    return nullptr;
  }
  return std::make_unique<FakeSqlConnection>(*this);
}

}  // namespace pelko
