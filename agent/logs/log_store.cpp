#include "agent/logs/log_store.h"

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"

namespace pelko {

namespace {

constexpr int kRetries = kLogRetryMs / kLogRetryStepMs;
// Names tried for an intruder moved aside; more of them in a day is the
// same attacker again, and the log is then left as it stands.
constexpr int kMaxAsideNames = 100;

bool WorthRetrying(FileStatus status) {
  return status == FileStatus::kBusy || status == FileStatus::kFailed;
}

}  // namespace

std::string LogStore::ComposePath(const std::string& name, const std::string& extension) {
  return ComposePath(name, extension, env.clock->Now());
}

std::string LogStore::DailyLogPath(const std::string& printerName, const LocalTime& day) {
  return ComposePath(DailyLogBase(printerName, *env.files), "xml", day);
}

std::string LogStore::ComposePath(const std::string& name, const std::string& extension,
                                  const LocalTime& date) {
  RegistryStringValue path(*env.registry, settings::kPath);
  const char separator = env.files->Separator();
  return LogsFolder(path.Get(), separator) + separator + LogFileName(name, date, extension);
}

std::string LogStore::ReadAll(const std::string& path) {
  std::string text;
  ReadAll(path, &text);
  return text;
}

FileStatus LogStore::ReadAll(const std::string& path, std::string* text) {
  const FileStatus status = env.files->ReadText(path, text);
  SayWhyNotRead(path, status);
  return status;
}

void LogStore::SayWhyNotRead(const std::string& path, FileStatus status) {
  if (status == FileStatus::kTooLarge) {
    SayTrouble(
        env, Severity::kWarning, "read " + path,
        path + " is over " + std::to_string(kMaxTextFileBytes >> 20) + " MiB: left out, not read");
  } else if (status == FileStatus::kNotRegular) {
    SayTrouble(env, Severity::kWarning, "read " + path,
               path + " is a link, folder, pipe or device, not a log file: left out, not read");
  } else if (status == FileStatus::kNotOurs) {
    SayTrouble(env, Severity::kWarning, "read " + path,
               path + " belongs to another account, not a log file of ours: left out, not read");
  }
}

FileStatus LogStore::ReadPatiently(Folder& folder, const std::string& name, const std::string& path,
                                   const Waiter& pause, std::string* text, FileId* id) {
  FileStatus status = folder.ReadText(name, text, id);
  for (int retry = 0; retry < kRetries && WorthRetrying(status); ++retry) {
    pause(kLogRetryStepMs);
    status = folder.ReadText(name, text, id);
  }
  SayWhyNotRead(path, status);
  return status;
}

bool LogStore::MoveAside(const std::string& path) {
  const char separator = env.files->Separator();
  const std::size_t cut = path.rfind(separator);
  if (cut == std::string::npos) return false;
  auto folder = env.files->OpenFolder(path.substr(0, cut));
  if (!folder) return false;
  const std::string name = path.substr(cut + 1);
  for (int n = 1; n <= kMaxAsideNames; ++n) {
    const std::string aside = name + ".refused" + (n == 1 ? "" : std::to_string(n));
    const FileStatus moved = folder->Rename(name, aside);
    if (moved == FileStatus::kBusy) continue;  // that name is taken
    if (moved != FileStatus::kOk) break;
    SayTrouble(env, Severity::kWarning, "aside " + path + " " + aside,
               path +
                   " was not a log of the agent's (another account's file, a folder or a "
                   "link): moved aside to " +
                   aside + ", the log is written anew");
    return true;
  }
  SayTrouble(env, Severity::kWarning, "aside " + path,
             path + " is not a log of the agent's and could not be moved aside");
  return false;
}

FileStatus LogStore::ReadPatiently(const std::string& path, const Waiter& pause,
                                   std::string* text) {
  FileStatus status = ReadAll(path, text);
  for (int retry = 0; retry < kRetries && WorthRetrying(status); ++retry) {
    pause(kLogRetryStepMs);
    status = ReadAll(path, text);
  }
  return status;
}

FileStatus LogStore::ReplacePatiently(const std::string& path, std::string_view text,
                                      const Waiter& pause) {
  std::unique_ptr<ReplacingWriter> writer;
  const FileStatus begun = BeginPatiently(path, pause, &writer);
  if (begun != FileStatus::kOk) return begun;
  if (!writer->Append(text)) return FileStatus::kFailed;
  return CommitPatiently(*writer, pause);
}

FileStatus LogStore::BeginPatiently(const std::string& path, const Waiter& pause,
                                    std::unique_ptr<ReplacingWriter>* writer) {
  FileStatus status = env.files->BeginReplace(path, writer);
  for (int retry = 0; retry < kRetries && status == FileStatus::kBusy; ++retry) {
    pause(kLogRetryStepMs);
    status = env.files->BeginReplace(path, writer);
  }
  return status;
}

FileStatus LogStore::CommitPatiently(ReplacingWriter& writer, const Waiter& pause) {
  FileStatus status = writer.Commit();
  for (int retry = 0; retry < kRetries && status == FileStatus::kBusy; ++retry) {
    pause(kLogRetryStepMs);
    status = writer.Commit();
  }
  return status;
}

}  // namespace pelko
