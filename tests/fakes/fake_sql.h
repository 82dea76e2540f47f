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
  using JobKey = std::tuple<std::string, std::string, std::string, int64_t, std::string, std::string>;
  using Jobs = std::map<JobKey, std::vector<std::string>>;
  Jobs jobs;
  Jobs holding;  // pelko_jobs_v1, while an upgrade runs
  std::map<std::pair<std::string, std::string>, std::pair<int64_t, int64_t>> states;
  int version = 0;       // of pelko_schema_version; 0: no tables
  bool oldKey = false;   // pelko_jobs keyed as in version 1: (server, printer, log date, job id)
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

  bool Execute(std::string_view sql, const std::vector<SqlParam>& params,
               std::vector<SqlRow>* rows) override {
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
      std::vector<std::string> row = {shown(first), shown(first + 1), shown(first + 2),
                                      shown(first + 3), text(date), text(date + 1)};
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
    } else if (starts("CREATE") || starts("UPDATE pelko_schema_version") || starts("ALTER")) {
    } else if (starts("SELECT DISTINCT log_date, server_name")) {
      std::set<SqlRow> days;
      for (const auto& [key, value] : pending.jobs) days.insert({std::get<2>(key), std::get<0>(key)});
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
        if (std::get<0>(key) == text(0) && std::get<1>(key) == text(1) && std::get<2>(key) == text(2)) {
          SqlRow row{std::to_string(std::get<3>(key)), std::get<4>(key), std::get<5>(key),
                     value[0], value[1], value[2], value[3]};
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
        FakeSqlTables::JobKey key{text(at), text(at + 1), text(at + 2), number(at + 3),
                                  text(at + 4), text(at + 5)};
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
    } else if (starts("INSERT INTO pelko_log_state")) {
      auto key = std::make_pair(text(0), text(1));
      if (pending.states.count(key)) return Refuse("duplicate key");
      pending.states[key] = {number(2), number(3)};
    } else if (starts("UPDATE pelko_log_state")) {
      pending.states[std::make_pair(text(2), text(3))] = {number(0), number(1)};
    } else if (starts("SELECT DISTINCT log_date FROM pelko_jobs")) {
      std::set<SqlRow> days;
      for (const auto& [key, value] : pending.jobs) {
        if (std::get<2>(key) >= text(0) && std::get<2>(key) <= text(1)) days.insert({std::get<2>(key)});
      }
      rows->assign(days.begin(), days.end());
    } else if (starts("SELECT job_date")) {
      for (const auto& [key, value] : pending.jobs) {
        if (std::get<2>(key) != text(0)) continue;
        SqlRow row{value[4], value[5], std::to_string(std::get<3>(key)), value[0], std::get<1>(key),
                   value[1], value[2], value[3], std::get<0>(key)};
        if (withDetails) {
          // copies, colour and mono pages, sides, paper, client, colorfrom
          for (std::size_t i : {8, 6, 7, 9, 10, 11, 12}) row.push_back(i < value.size() ? value[i] : "");
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
  std::string LastError() const override { return error; }
  bool Lost() const override { return lost; }

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
