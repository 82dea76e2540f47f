#include "agent/database/log_sync.h"

#include <tuple>

#include <algorithm>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/database/schema.h"
#include "agent/files/file_finder.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"

namespace pelko::database {

namespace {

constexpr char kSelectState[] =
    "SELECT log_file, size_bytes, written FROM pelko_log_state WHERE server_name = ?";
constexpr char kSelectRows[] =
    "SELECT job_id, job_date, job_time, user_name, document, pages, cost, copies, color_pages, "
    "mono_pages, sides, paper, client, color_from FROM pelko_jobs "
    "WHERE server_name = ? AND printer = ? AND log_date = ?";
constexpr std::size_t kSelectedColumns = 14;
// The key's columns come first, then those of JobValues.
constexpr char kInsertRow[] =
    "INSERT INTO pelko_jobs (server_name, printer, log_date, job_id, job_date, job_time, "
    "user_name, document, pages, cost, copies, color_pages, mono_pages, sides, paper, client, "
    "color_from) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr char kUpdateRow[] =
    "UPDATE pelko_jobs SET user_name = ?, document = ?, pages = ?, cost = ?, copies = ?, "
    "color_pages = ?, mono_pages = ?, sides = ?, paper = ?, client = ?, color_from = ? "
    "WHERE server_name = ? AND printer = ? AND log_date = ? AND job_id = ? AND job_date = ? "
    "AND job_time = ?";
constexpr char kInsertState[] =
    "INSERT INTO pelko_log_state (server_name, log_file, size_bytes, written) "
    "VALUES (?, ?, ?, ?)";
constexpr char kUpdateState[] =
    "UPDATE pelko_log_state SET size_bytes = ?, written = ? "
    "WHERE server_name = ? AND log_file = ?";

uint64_t Number(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

// A job row's key within its printer's day: an id given again is told apart
// by its entry's date and time.
using EntryKey = std::tuple<int64_t, std::string, std::string>;

// What a row holds beside its key, in the order of kSelectRows and of the
// statements that write them.
std::vector<SqlParam> JobValues(const JobRow& row) {
  return {SqlParam::Text(row.user),          SqlParam::Text(row.document),
          SqlParam::Number(row.pages),       SqlParam::Number(row.cost),
          SqlParam::NumberOrNull(row.copies), SqlParam::NumberOrNull(row.colorPages),
          SqlParam::NumberOrNull(row.monoPages), SqlParam::TextOrNull(row.sides),
          SqlParam::TextOrNull(row.paper),   SqlParam::TextOrNull(row.client),
          SqlParam::TextOrNull(row.colorFrom)};
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
  std::vector<ChangedLog> changed;
  for (const FoundFile& file : finder.Files()) {
    const std::string logFile = file.path.substr(std::min(file.path.size(), logsFolder.size() + 1));
    const std::size_t slash = file.path.rfind(env.files->Separator());
    const std::string logDate =
        LogDateOfFile(slash == std::string::npos ? file.path : file.path.substr(slash + 1));
    if (logDate.empty()) continue;
    auto known = sent.find(logFile);
    if (known != sent.end() && known->second == SentState{file.size, file.lastWritten}) continue;
    changed.push_back({logFile, logDate, file});
  }
  return changed;
}

bool LogSync::LoadState(SqlConnection& connection, std::string* error) {
  ++statements;
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
  for (const auto& [logFile, logDate, file] : ChangedLogs(env, logsFolder, sent)) {
    const SentState state{file.size, file.lastWritten};
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
    if (!SendFile(connection, logFile, logDate, rows, state, error)) return false;
  }
  if (complete) {
    folderStamp = stamp;
    lastFullLookMs = now;
  }
  return true;
}

bool LogSync::SendFile(SqlConnection& connection, const std::string& logFile,
                       const std::string& logDate, const std::vector<JobRow>& rows,
                       const SentState& state, std::string* error) {
  std::map<std::string, std::vector<const JobRow*>> byPrinter;
  for (const JobRow& row : rows) byPrinter[row.printer].push_back(&row);
  bool ok = true;
  for (const auto& [printer, printerRows] : byPrinter) {
    ok = ok && SendPrinter(connection, printer, logDate, printerRows);
  }
  const bool known = sent.count(logFile) != 0;
  const auto size = SqlParam::Number(static_cast<int64_t>(state.size));
  const auto written = SqlParam::Number(static_cast<int64_t>(state.written));
  ok = ok && (known ? Run(connection, kUpdateState,
                          {size, written, SqlParam::Text(server), SqlParam::Text(logFile)})
                    : Run(connection, kInsertState,
                          {SqlParam::Text(server), SqlParam::Text(logFile), size, written}));
  ok = ok && connection.Commit();
  if (!ok) {
    *error = connection.LastError();
    connection.Rollback();
    return false;
  }
  sent[logFile] = state;
  return true;
}

bool LogSync::SendPrinter(SqlConnection& connection, const std::string& printer,
                          const std::string& logDate, const std::vector<const JobRow*>& rows) {
  const SqlParam serverParam = SqlParam::Text(server);
  const SqlParam printerParam = SqlParam::Text(printer);
  const SqlParam dateParam = SqlParam::Text(logDate);
  std::vector<SqlRow> storedRows;
  if (!Run(connection, kSelectRows, {serverParam, printerParam, dateParam}, &storedRows)) {
    return false;
  }
  std::map<EntryKey, const SqlRow*> stored;
  for (const SqlRow& row : storedRows) {
    if (row.size() == kSelectedColumns) {
      stored[{std::strtoll(row[0].c_str(), nullptr, 10), row[1], row[2]}] = &row;
    }
  }
  for (const JobRow* row : rows) {
    auto found = stored.find({row->jobId, row->date, row->time});
    const std::vector<SqlParam> values = JobValues(*row);
    if (found != stored.end() && SameAsStored(values, *found->second)) continue;
    const std::vector<SqlParam> key = {serverParam, printerParam, dateParam,
                                       SqlParam::Number(row->jobId), SqlParam::Text(row->date),
                                       SqlParam::Text(row->time)};
    const bool insert = found == stored.end();
    std::vector<SqlParam> params = insert ? key : values;
    params.insert(params.end(), insert ? values.begin() : key.begin(), insert ? values.end() : key.end());
    if (!Run(connection, insert ? kInsertRow : kUpdateRow, params)) return false;
    ++rowsWritten;
  }
  return true;
}

}  // namespace pelko::database
