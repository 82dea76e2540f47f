#include "agent/logs/global_log.h"

#include <memory>
#include <string>
#include <vector>

#include "agent/logs/log_format.h"
#include "agent/logs/log_store.h"
#include "agent/purge/file_finder.h"

namespace pelko {

namespace {

// Global logs, by any name, are never gathered into one another.
bool IsGatheredLog(const std::string& path, char separator) {
  const std::size_t at = path.rfind(separator);
  const std::string_view name =
      at == std::string::npos ? std::string_view(path) : std::string_view(path).substr(at + 1);
  return IsGatheredLogName(name);
}

// A file's total is its Total entry; a file cut before it gives the sum of
// the entries it kept.
int32_t FileTotal(std::string_view text, std::size_t tail, const std::vector<LogEntry>& entries) {
  int32_t total = 0;
  if (tail != std::string_view::npos) return ReadTotalEntry(text, tail, &total) ? total : 0;
  uint32_t sum = 0;
  for (const LogEntry& entry : entries) sum += static_cast<uint32_t>(EntryCost(entry));
  return static_cast<int32_t>(sum);
}

}  // namespace

void BuildGlobalLog(const Env& env, LogLocks& locks, const Waiter& pause,
                    RegistryStringValue& globalPath) {
  LogStore store(env);
  const LocalTime today = env.clock->Now();
  const char separator = env.files->Separator();

  FileFinder finder(*env.files);
  finder.ClearFolders();
  finder.SetRoot(LogsFolder(globalPath.Get(), separator), true);
  finder.AddFiles("*.xml", true, false);

  const std::string path = store.ComposePath("GlobalLog", "xml", today);
  auto globalLock = locks.Lock(path);
  // Streamed file by file into the temporary file: the build holds one
  // daily file at a time, never the whole document.
  std::unique_ptr<ReplacingWriter> writer;
  if (store.BeginPatiently(path, pause, &writer) != FileStatus::kOk) return;
  std::string out(kLogProlog);
  out += "<log><type>Global Log</type><date>";
  out += FormatLogDate(today);
  out += "</date>";
  writer->Append(out);

  uint32_t grandTotal = 0;
  std::string text;
  std::vector<LogEntry> entries;
  for (const FoundFile& file : finder.files) {
    if (IsGatheredLog(file.path, separator)) continue;
    {
      auto lock = locks.Lock(file.path);
      if (store.ReadPatiently(file.path, pause, &text) != FileStatus::kOk) continue;
    }
    const std::size_t tail = ReadLogEntries(text, &entries);
    grandTotal += static_cast<uint32_t>(FileTotal(text, tail, entries));
    out.clear();
    {
      EntryAppender appender(out);
      for (const LogEntry& entry : entries) appender.Add(entry);
    }
    if (!writer->Append(out)) return;
  }

  out.clear();
  AppendTotalEntry(out, static_cast<int32_t>(grandTotal));
  out += kLogFooter;
  if (!writer->Append(out)) return;
  store.CommitPatiently(*writer, pause);
}

}  // namespace pelko
