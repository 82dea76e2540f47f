#include "agent/database/schema.h"

#include <cstdlib>
#include <iterator>
#include <utility>

#include "agent/database/dialect.h"
#include "agent/database/job_sums.h"
#include "agent/util/unicode.h"

namespace pelko::database {

namespace {

constexpr char kJobColumns[] =
    "server_name, printer, log_date, job_id, user_name, document, pages, cost, job_date, job_time";

std::string Text(const std::string& product, std::size_t chars) {
  return TextType(EngineOf(product), chars);
}

// pelko_jobs's columns, as versions 1 and 2 have them.
std::string JobColumnTypes(const std::string& product) {
  const std::string name = Text(product, kNameChars);
  return "server_name " + Text(product, kServerChars) +
         " NOT NULL, "
         "printer " +
         name +
         " NOT NULL, "
         "log_date CHAR(8) NOT NULL, "
         "job_id INTEGER NOT NULL, "
         "user_name " +
         name +
         " NOT NULL, "
         "document " +
         Text(product, kDocumentChars) +
         " NOT NULL, "
         "pages INTEGER NOT NULL, "
         "cost INTEGER NOT NULL, "
         "job_date " +
         Text(product, 10) +
         " NOT NULL, "
         "job_time " +
         Text(product, 8) + " NOT NULL";
}

// pelko_jobs of version 2, which the step to version 2 makes too: a later
// version that changes the table leaves these as they are and adds a step.
// Each is made where it is not yet: a making of the tables cut short on
// MariaDB, which commits at each, is taken up again.
std::vector<std::string> JobsTableV2(const std::string& product) {
  return {
      // A spooler that numbers from 1 again gives an id twice in a day; the
      // entry's date and time, which never change, tell the jobs apart.
      "CREATE TABLE " + IfNotExists(EngineOf(product)) + "pelko_jobs (" + JobColumnTypes(product) +
          ", PRIMARY KEY (server_name, printer, log_date, job_id, job_date, job_time))",
      // The reports take a range of dates and group by one column.
      CreateIndex(EngineOf(product), "pelko_jobs_by_date", "log_date",
                  "server_name, printer, user_name, pages, cost"),
      "CREATE INDEX " + IfNotExists(EngineOf(product)) +
          "pelko_jobs_by_user ON pelko_jobs (user_name, log_date)",
  };
}

// Version 1 to 2: the key takes the entry's date and time. No ALTER of a
// primary key reads alike in PostgreSQL, SQL Server and MariaDB (each names
// the key its own way), so the rows go to a holding table and back into the
// table made anew. One server's day a statement: none outlasts the bound
// on a statement however large the table (the CAST keeps the index on
// log_date in use, which a text parameter would not on PostgreSQL).
// MariaDB commits at each CREATE and DROP: a step cut there leaves the rows
// in pelko_jobs_v1.
bool KeyByEntryTime(SqlConnection& connection, const std::string& product) {
  const std::string columns = std::string("(") + kJobColumns + ") SELECT " + kJobColumns;
  auto run = [&](const std::string& sql, const std::vector<SqlParam>& params = {},
                 std::vector<SqlRow>* rows = nullptr) {
    return connection.Execute(sql, params, rows);
  };
  std::vector<SqlRow> days;
  auto copyDays = [&](const std::string& from, const std::string& to) {
    for (const SqlRow& day : days) {
      if (day.size() == 2 && !run("INSERT INTO " + to + " " + columns + " FROM " + from +
                                      " WHERE log_date = CAST(? AS CHAR(8)) AND server_name = ?",
                                  {SqlParam::Text(day[0]), SqlParam::Text(day[1])})) {
        return false;
      }
    }
    return true;
  };
  // The one statement all three take that holds the table for this
  // transaction alone (LOCK TABLE is PostgreSQL's): no agent of version 1
  // adds a row between the copy and the drop. The column goes with it.
  if (!run("ALTER TABLE pelko_jobs ADD pelko_upgrading INTEGER") ||
      !run("SELECT DISTINCT log_date, server_name FROM pelko_jobs", {}, &days) ||
      !run("CREATE TABLE pelko_jobs_v1 (" + JobColumnTypes(product) +
           ", PRIMARY KEY (log_date, server_name, printer, job_id))") ||
      !copyDays("pelko_jobs", "pelko_jobs_v1") || !run("DROP TABLE pelko_jobs")) {
    return false;
  }
  for (const std::string& statement : JobsTableV2(product)) {
    if (!run(statement)) return false;
  }
  return copyDays("pelko_jobs_v1", "pelko_jobs") && run("DROP TABLE pelko_jobs_v1");
}

// Version 2 to 3: each job's print details, NULL in the rows of entries
// that hold none. One column a statement: SQL Server takes no "ADD a, ADD
// b", PostgreSQL no "ADD a, b". MariaDB commits at each ALTER, so where the
// database has it IF NOT EXISTS lets a step cut between two columns, or one
// that a second agent runs meanwhile, go on.
std::vector<std::string> DetailColumns(const std::string& product) {
  const std::string add = AddColumn(EngineOf(product), "pelko_jobs");
  const std::string detail = Text(product, kDetailChars);
  return {add + "copies INTEGER",      add + "color_pages INTEGER",
          add + "mono_pages INTEGER",  add + "sides " + detail,
          add + "paper " + detail,     add + "client " + Text(product, kNameChars),
          add + "color_from " + detail};
}

bool AddDetailColumns(SqlConnection& connection, const std::string& product) {
  for (const std::string& statement : DetailColumns(product)) {
    if (!connection.Execute(statement, {}, nullptr)) return false;
  }
  return true;
}

// Version 3 to 4: the sums a report reads (job_sums.h), made from the rows
// there are. What was sent of each log moves to pelko_sync_state, so that an
// agent of version 3 still connected, which would write rows without their
// sums, fails at its next file (its transaction undone whole) and leaves the
// database alone when it connects again. MariaDB commits at each CREATE and
// RENAME: a step cut after them is run again whole.
bool AddJobSums(SqlConnection& connection, const std::string& product) {
  const Engine engine = EngineOf(product);
  std::vector<SqlRow> exists;
  if (!connection.Execute(TableExists(engine), {SqlParam::Text("pelko_log_state")}, &exists))
    return false;
  if (!exists.empty() && !exists[0].empty() && exists[0][0] != "0") {
    const std::string rename =
        engine == Engine::kSqlServer ? "EXEC sp_rename 'pelko_log_state', 'pelko_sync_state'"
        : engine == Engine::kMariaDb ? "RENAME TABLE pelko_log_state TO pelko_sync_state"
                                     : "ALTER TABLE pelko_log_state RENAME TO pelko_sync_state";
    if (!connection.Execute(rename, {}, nullptr)) return false;
  }
  for (const std::string& statement : JobSumsTable(engine)) {
    if (!connection.Execute(statement, {}, nullptr)) return false;
  }
  return connection.Execute("DELETE FROM pelko_job_sums", {}, nullptr) &&
         FillJobSums(connection, engine);
}

// Version 4 to 5: the index on log_date carries what a report groups the
// rows of a partial month by (the colour and mono pages, and the job's
// date), so that it reads them from the index alone. MariaDB commits at
// each: the new one is made first, and a step cut between the two finds it.
std::vector<std::string> DateIndexV5(Engine engine) {
  return {CreateIndex(engine, "pelko_jobs_by_log_date", "log_date",
                      "server_name, printer, user_name, pages, cost, job_date, color_pages, "
                      "mono_pages"),
          DropIndex(engine, "pelko_jobs", "pelko_jobs_by_date")};
}

// An index made over ten million rows takes minutes.
constexpr uint32_t kIndexSeconds = 3600;

bool CarryFiguresInDateIndex(SqlConnection& connection, const std::string& product) {
  for (const std::string& statement : DateIndexV5(EngineOf(product))) {
    if (!connection.ExecuteLong(statement, kIndexSeconds)) return false;
  }
  return true;
}

// Each step brings the version before `to` to `to`, inside the upgrade's
// transaction.
struct SchemaStep {
  int to;
  bool (*run)(SqlConnection& connection, const std::string& product);
};
constexpr SchemaStep kSteps[] = {
    {2, KeyByEntryTime}, {3, AddDetailColumns}, {4, AddJobSums}, {5, CarryFiguresInDateIndex}};
static_assert(std::size(kSteps) == kSchemaVersion - 1 &&
              kSteps[kSchemaVersion - 2].to == kSchemaVersion);

bool ReadVersion(SqlConnection& connection, int* version) {
  std::vector<SqlRow> rows;
  if (!connection.Execute("SELECT MAX(version) FROM pelko_schema_version", {}, &rows)) return false;
  *version = rows.empty() || rows[0].empty() ? 0 : std::atoi(rows[0][0].c_str());
  return true;
}

std::string Unknown(int version) {
  return "the database holds Pelko tables of version " + std::to_string(version) +
         ", this agent knows version " + std::to_string(kSchemaVersion) +
         (version > kSchemaVersion ? ": they are left alone until this agent is upgraded" : "");
}

bool Steps(SqlConnection& connection, bool ok, int* found, std::string* error);

// A lock that holds off other agents, where the engine needs one beside
// the transaction's (dialect.h): taken by Take, let go at the end of the
// scope, after the commit.
class HeldLock {
 public:
  HeldLock(SqlConnection& connection, std::string hold, std::string release)
      : connection(connection), hold(std::move(hold)), release(std::move(release)) {}
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  ~HeldLock() {
    std::vector<SqlRow> ignored;
    if (held && !release.empty()) connection.Execute(release, {}, &ignored);
  }

  bool Take() {
    if (hold.empty()) return true;
    std::vector<SqlRow> rows;
    held = connection.Execute(hold, {}, &rows) && !rows.empty() && !rows[0].empty() &&
           rows[0][0] == "1";
    return held;
  }

 private:
  SqlConnection& connection;
  const std::string hold;
  const std::string release;
  bool held = false;
};

// Agents that find the old version at once wait here on the first one's
// row lock (and on MariaDB its lock of the upgrade), and then find the
// version it left.
bool Upgrade(SqlConnection& connection, int found, int* upgradedFrom, std::string* error) {
  const Engine engine = EngineOf(connection.ProductName());
  bool done = false;
  int version = found;
  {
    HeldLock lock(connection, HoldUpgrade(engine), ReleaseUpgrade(engine));
    // The lock of the upgrade first: one who held the row waiting for it
    // would hold up the upgrade's last statement, which sets the version.
    const bool ok =
        lock.Take() &&
        connection.Execute("UPDATE pelko_schema_version SET version = version", {}, nullptr) &&
        ReadVersion(connection, &version);
    done = Steps(connection, ok, &version, error);
  }
  if (done && upgradedFrom != nullptr && version != kSchemaVersion) *upgradedFrom = version;
  return done;
}

// The steps from *version on, in the transaction Upgrade opened; *version
// left as found.
bool Steps(SqlConnection& connection, bool ok, int* found, std::string* error) {
  int& version = *found;
  if (ok && version == kSchemaVersion) {
    connection.Rollback();
    return true;
  }
  if (ok && (version < 1 || version > kSchemaVersion)) {
    *error = Unknown(version);
    connection.Rollback();
    return false;
  }
  const std::string product = ok ? connection.ProductName() : std::string();
  for (const SchemaStep& step : kSteps) {
    ok = ok && (step.to <= version || step.run(connection, product));
  }
  ok = ok &&
       connection.Execute("UPDATE pelko_schema_version SET version = ?",
                          {SqlParam::Number(kSchemaVersion)}, nullptr) &&
       connection.Commit();
  if (!ok) {
    *error = "cannot upgrade the tables from version " + std::to_string(version) + ": " +
             connection.LastError();
    connection.Rollback();
    return false;
  }
  return true;
}

enum class Making { kMade, kFound, kFailed };

// Where there is no version's row: a database without our tables, or one
// whose making was cut short on MariaDB. Agents that come at once wait on
// the lock of the making, and the ones after the first find the version's
// row under it (kFound) rather than fail at CREATE.
Making MakeTables(SqlConnection& connection, std::string* error) {
  const std::string product = connection.ProductName();
  const Engine engine = EngineOf(product);
  HeldLock lock(connection, HoldMaking(engine), ReleaseMaking(engine));
  std::vector<SqlRow> exists;
  int version = 0;
  bool ok = lock.Take() && connection.Execute(TableExists(engine),
                                              {SqlParam::Text("pelko_schema_version")}, &exists);
  if (ok && !exists.empty() && !exists[0].empty() && exists[0][0] != "0") {
    ok = ReadVersion(connection, &version);
    if (ok && version != 0) {
      connection.Rollback();
      return Making::kFound;
    }
  }
  for (const std::string& statement : SchemaStatements(product)) {
    ok = ok && connection.Execute(statement, {}, nullptr);
  }
  if (ok && connection.Commit()) return Making::kMade;
  *error = "cannot make the tables: " + connection.LastError();
  connection.Rollback();
  return Making::kFailed;
}

}  // namespace

std::string TruncateServer(const std::string& name) {
  return TruncateUtf8(LogTextToUtf8(name), kServerChars);
}

std::vector<std::string> SchemaStatements(const std::string& product) {
  const Engine engine = EngineOf(product);
  std::vector<std::string> statements = JobsTableV2(product);
  const std::vector<std::string> details = DetailColumns(product);
  statements.insert(statements.end(), details.begin(), details.end());
  const std::vector<std::string> sums = JobSumsTable(engine);
  statements.insert(statements.end(), sums.begin(), sums.end());
  const std::vector<std::string> dateIndex = DateIndexV5(engine);
  statements.insert(statements.end(), dateIndex.begin(), dateIndex.end());
  // The version's row last: the tables are whole once it is there.
  statements.insert(
      statements.end(),
      {
          // What was sent of each log file: nothing is read again while its
          // size and time of writing stay.
          "CREATE TABLE " + IfNotExists(engine) +
              "pelko_sync_state ("
              "server_name " +
              Text(product, kServerChars) +
              " NOT NULL, "
              "log_file " +
              Text(product, 400) +
              " NOT NULL, "
              "size_bytes BIGINT NOT NULL, "
              "written BIGINT NOT NULL, "
              "PRIMARY KEY (server_name, log_file))",
          "CREATE TABLE " + IfNotExists(engine) + "pelko_schema_version (version INTEGER NOT NULL)",
          "INSERT INTO pelko_schema_version (version) VALUES (" + std::to_string(kSchemaVersion) +
              ")",
      });
  return statements;
}

bool EnsureSchema(SqlConnection& connection, std::string* error, int* upgradedFrom) {
  if (upgradedFrom != nullptr) *upgradedFrom = 0;
  int version = 0;
  const bool read = ReadVersion(connection, &version);
  // A failed read spoilt the transaction on some databases.
  if (connection.Lost() || !connection.Rollback()) {
    *error = connection.LastError();
    return false;
  }
  if (!read || version == 0) {
    switch (MakeTables(connection, error)) {
      case Making::kMade:
        return true;
      case Making::kFailed:
        return false;
      case Making::kFound:
        break;
    }
    if (!ReadVersion(connection, &version)) {
      *error = connection.LastError();
      connection.Rollback();
      return false;
    }
    connection.Rollback();
  }
  if (version == kSchemaVersion) return true;
  if (version >= 1 && version < kSchemaVersion)
    return Upgrade(connection, version, upgradedFrom, error);
  *error = Unknown(version);
  return false;
}

}  // namespace pelko::database
