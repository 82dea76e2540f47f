#include "agent/database/log_sync.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <tuple>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/database/row_batch.h"
#include "agent/database/schema.h"
#include "agent/files/file_finder.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"

namespace pelko::database {

namespace {

constexpr char kSelectState[] =
    "SELECT log_file, size_bytes, written FROM pelko_sync_state WHERE server_name = ?";
constexpr char kSelectRows[] =
    "SELECT job_id, job_date, job_time, user_name, document, pages, cost, copies, color_pages, "
    "mono_pages, sides, paper, client, color_from FROM pelko_jobs "
    "WHERE server_name = ? AND printer = ? AND log_date = ?";
constexpr std::size_t kSelectedColumns = 14;
constexpr char kInsertState[] =
    "INSERT INTO pelko_sync_state (server_name, log_file, size_bytes, written) "
    "VALUES (?, ?, ?, ?)";
constexpr char kUpdateState[] =
    "UPDATE pelko_sync_state SET size_bytes = ?, written = ? "
    "WHERE server_name = ? AND log_file = ?";

// The values of a job row, in the order of kJobRowColumns: the key's, then
// JobValues'.
constexpr ValueType kJobRowTypes[kJobRowParams] = {
    ValueType::kText,   ValueType::kText,   ValueType::kText,   ValueType::kNumber,
    ValueType::kText,   ValueType::kText,   ValueType::kText,   ValueType::kText,
    ValueType::kNumber, ValueType::kNumber, ValueType::kNumber, ValueType::kNumber,
    ValueType::kNumber, ValueType::kText,   ValueType::kText,   ValueType::kText,
    ValueType::kText};

uint64_t Number(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

// A job row's key within its printer's day: an id given again is told apart
// by its entry's date and time.
using EntryKey = std::tuple<int64_t, std::string, std::string>;

// What a row holds beside its key, in the order of kSelectRows and of the
// statements that write them.
std::vector<SqlParam> JobValues(const JobRow& row) {
  return {SqlParam::Text(row.user),
          SqlParam::Text(row.document),
          SqlParam::Number(row.pages),
          SqlParam::Number(row.cost),
          SqlParam::NumberOrNull(row.copies),
          SqlParam::NumberOrNull(row.colorPages),
          SqlParam::NumberOrNull(row.monoPages),
          SqlParam::TextOrNull(row.sides),
          SqlParam::TextOrNull(row.paper),
          SqlParam::TextOrNull(row.client),
          SqlParam::TextOrNull(row.colorFrom)};
}

// A row's key and values, which tell whether the database holds it so
// (kept for this connection only: no need to last).
uint64_t Digest(const JobRow& row) {
  std::string all = row.printer;
  for (const std::string* text : {&row.user, &row.document, &row.date, &row.time, &row.sides,
                                  &row.paper, &row.client, &row.colorFrom}) {
    all += '\x1f' + std::to_string(text->size()) + ':' + *text;
  }
  for (const auto& number : {std::optional<int64_t>(row.jobId), std::optional(row.pages),
                             std::optional(row.cost), row.copies, row.colorPages, row.monoPages}) {
    all += number ? '\x1f' + std::to_string(*number) : std::string("\x1f-");
  }
  return std::hash<std::string>()(all);
}

// A row's key within the server's books.
uint64_t KeyDigest(const JobRow& row) {
  return std::hash<std::string>()(row.printer + '\x1f' + std::to_string(row.jobId) + '\x1f' +
                                  row.date + '\x1f' + row.time);
}

std::optional<int64_t> NumberOrNone(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return std::strtoll(text.c_str(), nullptr, 10);
}

// What a row read back (kSelectRows) adds to the sums.
JobShare StoredShare(const std::string& printer, const SqlRow& row) {
  return JobShare{printer,
                  row[3],
                  row[1],
                  std::strtoll(row[5].c_str(), nullptr, 10),
                  std::strtoll(row[6].c_str(), nullptr, 10),
                  NumberOrNone(row[8]),
                  NumberOrNone(row[9])};
}

// The row as the database holds it (a NULL reads as an empty text).
bool SameAsStored(const std::vector<SqlParam>& values, const SqlRow& stored) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const SqlParam& value = values[i];
    const std::string& held = stored[kSelectedColumns - values.size() + i];
    if (value.isNull ? !held.empty()
                     : held != (value.isText ? value.text : std::to_string(value.number))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool LogSync::Run(SqlConnection& connection, std::string_view sql,
                  const std::vector<SqlParam>& params, std::vector<SqlRow>* result) {
  ++statements;
  return connection.Execute(sql, params, result);
}

std::string SyncServerName(const Env& env) {
  std::string name = RegistryStringValue(*env.registry, settings::kServerName).Read();
  if (name.empty()) {
    char buffer[64] = {};
    uint32_t size = sizeof buffer;
    if (env.system != nullptr && env.system->GetComputerNameA(buffer, &size) == 0) {
      name.assign(buffer, std::min<std::size_t>(size, sizeof buffer - 1));
    }
  }
  return TruncateServer(name);
}

bool ReadSentState(SqlConnection& connection, const std::string& server,
                   std::map<std::string, SentState>* sent, std::string* error) {
  std::vector<SqlRow> rows;
  sent->clear();
  if (!connection.Execute(kSelectState, {SqlParam::Text(server)}, &rows)) {
    *error = connection.LastError();
    connection.Rollback();
    return false;
  }
  connection.Rollback();
  for (const SqlRow& row : rows) {
    if (row.size() == 3) (*sent)[row[0]] = SentState{Number(row[1]), Number(row[2])};
  }
  return true;
}

std::vector<ChangedLog> ChangedLogs(const Env& env, const std::string& logsFolder,
                                    const std::map<std::string, SentState>& sent) {
  FileFinder finder(*env.files);
  finder.SetRoot(logsFolder, true);
  finder.AddFiles("*.xml", true, false);
  finder.AddFiles("*.details", true, false);
  auto under = [&](const std::string& path) {
    return path.substr(std::min(path.size(), logsFolder.size() + 1));
  };
  auto unsent = [&](const std::string& file, const FoundFile& found) {
    const auto known = sent.find(file);
    return known == sent.end() || !(known->second == SentState{found.size, found.lastWritten});
  };
  // A twin may change alone: a document measured later that moves pages
  // from black to colour at no other cost leaves the log as it was.
  std::map<std::string, const FoundFile*> twins;
  for (const FoundFile& file : finder.Files()) {
    const std::string log = LogOfDetailsTwin(file.path);
    if (!log.empty()) twins[log] = &file;
  }
  std::vector<ChangedLog> changed;
  for (const FoundFile& file : finder.Files()) {
    const std::size_t slash = file.path.rfind(env.files->Separator());
    const std::string logDate =
        LogDateOfFile(slash == std::string::npos ? file.path : file.path.substr(slash + 1));
    if (logDate.empty()) continue;
    ChangedLog log{under(file.path), logDate, file, {}, {}};
    if (const auto twin = twins.find(file.path); twin != twins.end()) {
      log.twinFile = under(twin->second->path);
      log.twin = *twin->second;
    }
    if (unsent(log.logFile, file) || (log.twin && unsent(log.twinFile, *log.twin))) {
      changed.push_back(std::move(log));
    }
  }
  return changed;
}

bool LogSync::LoadState(SqlConnection& connection, std::string* error) {
  ++statements;
  engine = EngineOf(connection.ProductName());
  confirmed.clear();
  // A server that lacks a setting (PostgreSQL before 12) goes on without it.
  for (const std::string& setting : SyncSession(engine)) {
    if (!(connection.Execute(setting, {}, nullptr) && connection.Commit())) connection.Rollback();
  }
  return ReadSentState(connection, server, &sent, error);
}

uint64_t LogSync::FolderStamp(const std::string& folder) {
  auto search = env.files->Find(folder);
  FileEntry entry;
  return search && search->Next(&entry) ? entry.lastWritten : 0;
}

bool LogSync::SendChanges(SqlConnection& connection, const std::string& logsFolder,
                          std::string* error) {
  // Nothing changed: not one file is looked at, not one statement sent.
  const uint64_t stamp = FolderStamp(logsFolder);
  const uint64_t now = env.clock->MonotonicMs();
  if (stamp != 0 && stamp == folderStamp && now - lastFullLookMs < kFullLookMs) return true;
  LogStore store(env);
  bool complete = true;
  for (const ChangedLog& log : ChangedLogs(env, logsFolder, sent)) {
    const FoundFile& file = log.file;
    pause(0);
    std::string text, twinText;
    {
      // Held only while the files are read: the printer threads never wait
      // for the database.
      auto lock = locks.Lock(file.path);
      if (store.ReadPatiently(file.path, pause, &text) != FileStatus::kOk) {
        complete = false;  // looked at again at the next round
        continue;
      }
      store.ReadPatiently(DetailsTwinOf(file.path), pause, &twinText);
    }
    std::vector<JobRow> rows = JobRowsOfLog(text);
    if (!twinText.empty()) FillDetailsFromTwin(JobRowsOfLog(twinText), &rows);
    if (!SendFileRetried(connection, log, rows, error)) return false;
  }
  if (complete) {
    folderStamp = stamp;
    lastFullLookMs = now;
  }
  return true;
}

bool LogSync::SendFile(SqlConnection& connection, const ChangedLog& log,
                       const std::vector<JobRow>& rows, std::string* error) {
  const std::string& logFile = log.logFile;
  const std::string& logDate = log.logDate;
  std::vector<uint64_t> digests;
  digests.reserve(rows.size());
  for (const JobRow& row : rows) digests.push_back(Digest(row));
  // Rows of keys the database lacks are inserted; those it holds otherwise
  // are written over.
  std::vector<const JobRow*> fresh, replacing;
  JobSums sums;
  std::vector<uint64_t> held = heldKeys[logFile];
  const std::size_t heldBefore = held.size();
  // A row of a key the database holds is written over: what it held then is
  // read back, to be taken from the sums.
  std::map<std::string, std::vector<const JobRow*>> byPrinter, rewritten;
  bool ok = true;
  if (const auto known = confirmed.find(logFile); known != confirmed.end()) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (std::binary_search(known->second.begin(), known->second.end(), digests[i])) continue;
      const bool over =
          std::binary_search(held.begin(), held.begin() + heldBefore, KeyDigest(rows[i]));
      (over ? rewritten[rows[i].printer] : fresh).push_back(&rows[i]);
    }
  } else {
    for (const JobRow& row : rows) rewritten[row.printer].push_back(&row);
  }
  for (const auto& [printer, printerRows] : rewritten) {
    ok = ok && Unlike(connection, printer, logDate, printerRows, &fresh, &replacing, &sums, &held);
  }
  for (const auto* changed : {&fresh, &replacing}) {
    for (const JobRow* row : *changed) {
      sums.Add(logDate, ShareOf(*row), 1);
      held.push_back(KeyDigest(*row));
    }
  }
  ok =
      ok && Write(connection, logDate, fresh, false) && Write(connection, logDate, replacing, true);
  ok = ok &&
       sums.Write([&](std::string_view sql,
                      const std::vector<SqlParam>& params) { return Run(connection, sql, params); },
                  engine, server);
  const SentState state{log.file.size, log.file.lastWritten};
  ok = ok && Record(connection, logFile, state);
  const SentState twinState =
      log.twin ? SentState{log.twin->size, log.twin->lastWritten} : SentState{};
  ok = ok && (!log.twin || Record(connection, log.twinFile, twinState));
  ok = ok && connection.Commit();
  if (!ok) {
    *error = connection.LastError();
    connection.Rollback();
    return false;
  }
  sent[logFile] = state;
  if (log.twin) sent[log.twinFile] = twinState;
  std::sort(digests.begin(), digests.end());
  confirmed[logFile] = std::move(digests);
  std::sort(held.begin(), held.end());
  held.erase(std::unique(held.begin(), held.end()), held.end());
  heldKeys[logFile] = std::move(held);
  return true;
}

bool LogSync::SendFileRetried(SqlConnection& connection, const ChangedLog& log,
                              const std::vector<JobRow>& rows, std::string* error) {
  // The database undid the whole transaction to let another one go on: the
  // file is sent again at once, a few times, rather than the connection
  // dropped and the database said away.
  constexpr int kMostTries = 4;
  for (int tried = 1;; ++tried) {
    if (SendFile(connection, log, rows, error)) return true;
    const bool undone = error->rfind("40001:", 0) == 0 || error->rfind("40P01:", 0) == 0;
    if (!undone || connection.Lost() || tried == kMostTries) return false;
    ++retries;
    SayTrouble(env, Severity::kInfo, "database retried",
               "a transaction was undone by the database and sent again: " + *error);
  }
}

bool LogSync::Record(SqlConnection& connection, const std::string& file, const SentState& state) {
  const auto size = SqlParam::Number(static_cast<int64_t>(state.size));
  const auto written = SqlParam::Number(static_cast<int64_t>(state.written));
  return sent.count(file) != 0 ? Run(connection, kUpdateState,
                                     {size, written, SqlParam::Text(server), SqlParam::Text(file)})
                               : Run(connection, kInsertState,
                                     {SqlParam::Text(server), SqlParam::Text(file), size, written});
}

bool LogSync::Unlike(SqlConnection& connection, const std::string& printer,
                     const std::string& logDate, const std::vector<const JobRow*>& rows,
                     std::vector<const JobRow*>* fresh, std::vector<const JobRow*>* replacing,
                     JobSums* sums, std::vector<uint64_t>* held) {
  std::vector<SqlRow> storedRows;
  if (!Run(connection, kSelectRows,
           {SqlParam::Text(server), SqlParam::Text(printer), SqlParam::Text(logDate)},
           &storedRows)) {
    return false;
  }
  std::map<EntryKey, const SqlRow*> stored;
  for (const SqlRow& row : storedRows) {
    if (row.size() == kSelectedColumns) {
      stored[{std::strtoll(row[0].c_str(), nullptr, 10), row[1], row[2]}] = &row;
    }
  }
  for (const auto& [key, row] : stored) {
    JobRow keyOnly;
    keyOnly.printer = printer;
    std::tie(keyOnly.jobId, keyOnly.date, keyOnly.time) = key;
    held->push_back(KeyDigest(keyOnly));
  }
  for (const JobRow* row : rows) {
    auto found = stored.find({row->jobId, row->date, row->time});
    if (found == stored.end()) {
      fresh->push_back(row);
    } else if (!SameAsStored(JobValues(*row), *found->second)) {
      replacing->push_back(row);
      sums->Add(logDate, StoredShare(printer, *found->second), -1);
    }
  }
  return true;
}

bool LogSync::Write(SqlConnection& connection, const std::string& logDate,
                    const std::vector<const JobRow*>& rows, bool replacing) {
  // A plain insert costs the database a fifth less than an upsert. Should
  // another writer have put in a key meanwhile (only an agent given the same
  // ServerName could), the insert fails, and the file goes again compared
  // with the rows read back.
  RowBatch batch(engine, kJobRowTypes, [&](const std::string& source, const auto& params) {
    return Run(connection,
               replacing ? UpsertJobRows(engine, source) : InsertJobRows(engine, source), params);
  });
  for (const JobRow* row : rows) {
    std::vector<SqlParam> values = {SqlParam::Text(server),    SqlParam::Text(row->printer),
                                    SqlParam::Text(logDate),   SqlParam::Number(row->jobId),
                                    SqlParam::Text(row->date), SqlParam::Text(row->time)};
    for (SqlParam& value : JobValues(*row)) values.push_back(std::move(value));
    if (!batch.Add(values)) return false;
    ++rowsWritten;
  }
  return batch.Finish();
}

}  // namespace pelko::database
