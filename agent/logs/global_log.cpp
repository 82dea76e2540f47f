#include "agent/logs/global_log.h"

#include <cstdint>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/files/file_finder.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/logs/log_store.h"
#include "agent/util/unicode.h"

namespace pelko {

namespace {

// A file's total is its Total entry when its entries could add up to it;
// a file cut before it, or whose Total they cannot give (written by hand to
// move the grand total), gives the sum of the entries it kept.
int32_t FileTotal(const Env& env, const std::string& path, std::string_view text, std::size_t tail,
                  const std::vector<LogEntry>& entries) {
  uint32_t sum = 0;
  int64_t lowest = 0, highest = 0;
  for (const LogEntry& entry : entries) {
    const int32_t cost = EntryCost(entry);
    sum += static_cast<uint32_t>(cost);
    (cost < 0 ? lowest : highest) += cost;
  }
  int32_t total = 0;
  if (tail == std::string_view::npos) return static_cast<int32_t>(sum);
  if (!ReadTotalEntry(text, tail, &total)) return 0;
  if (total >= lowest && total <= highest) return total;
  SayTrouble(env, Severity::kWarning, "total " + path,
             path + " has a Total of " + std::to_string(total) +
                 " that its entries cannot give: the global log counts their sum, " +
                 std::to_string(static_cast<int32_t>(sum)));
  return static_cast<int32_t>(sum);
}

}  // namespace

std::string BuildGlobalLog(const Env& env, LogLocks& locks, const Waiter& pause,
                           RegistryStringValue& globalPath, std::string_view stylesheet) {
  LogStore store(env);
  const LocalTime today = env.clock->Now();
  const char separator = env.files->Separator();

  const std::string path = store.ComposePath(kGlobalLogBase, "xml", today);
  auto globalLock = locks.Lock(path);
  // Streamed file by file into the temporary file: the build holds one
  // daily file at a time, never the whole document.
  std::unique_ptr<ReplacingWriter> writer;
  if (store.BeginPatiently(path, pause, &writer) != FileStatus::kOk) return {};
  // Rebuilt whole each time, so it never mixes encodings: the daily logs of
  // the other are moved to its own.
  const bool utf8 = RegistryDwordValue(*env.registry, settings::kLogUtf8).Get() == 1;
  std::string out = GlobalLogHead(today, stylesheet, utf8);
  writer->Append(out);
  uint64_t written = out.size();

  uint32_t grandTotal = 0;
  bool failed = false;
  std::string text;
  std::vector<LogEntry> entries;
  // Each file once, whatever names it has: hard links must not multiply it.
  std::set<FileId> seen;
  // Read through the folders as they were listed, so that a folder swapped
  // for a link meanwhile leads nowhere else.
  FileFinder finder(*env.files);
  const bool listed = finder.VisitFiles(
      LogsFolder(globalPath.Get(), separator), "*.xml", [&](Folder& folder, const FoundFile& file) {
        // Global logs, by any name, are never gathered into one another.
        if (failed || IsGatheredLogName(BaseName(file.path, separator))) return;
        FileId id;
        {
          auto lock = locks.Lock(file.path);
          if (store.ReadPatiently(folder, std::string(BaseName(file.path, separator)), file.path,
                                  pause, &text, &id) != FileStatus::kOk) {
            return;
          }
        }
        if (!seen.insert(id).second) return;
        const std::size_t tail = ReadLogEntries(text, &entries);
        out.clear();
        {
          EntryAppender appender(out);
          for (const LogEntry& entry : entries) appender.Add(entry);
        }
        const bool dailyUtf8 = DeclaresUtf8(text);
        if (dailyUtf8 != utf8) out = LogTextBetween(out, dailyUtf8, utf8);
        // The global log is read whole in its turn: it never grows past what a
        // read takes in.
        if (written + out.size() > kMaxGlobalLogBytes) {
          SayTrouble(env, Severity::kWarning, "full " + path,
                     path + " would grow past " + std::to_string(kMaxGlobalLogBytes >> 20) +
                         " MiB: " + file.path + " left out");
          return;
        }
        grandTotal += static_cast<uint32_t>(FileTotal(env, file.path, text, tail, entries));
        written += out.size();
        failed = !writer->Append(out);
      });
  // The finder absorbs running out of memory; the worker must still hear of it.
  if (!listed) throw std::bad_alloc();
  if (failed) return {};

  out.clear();
  AppendTotalEntry(out, static_cast<int32_t>(grandTotal));
  out += kLogFooter;
  if (!writer->Append(out)) return {};
  if (store.CommitPatiently(*writer, pause) != FileStatus::kOk) return {};
  return path;
}

}  // namespace pelko
