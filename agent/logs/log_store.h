// Paths, head and footer of log files, and their reading and replacing.
// Every operation that touches log files makes a LogStore of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "agent/platform/env.h"
#include "agent/worker/waiter.h"

namespace pelko {

// How long a read or a replace is tried again while the file is held by
// another program or cannot be read, and the pause between two tries.
inline constexpr uint32_t kLogRetryMs = 1000;
inline constexpr uint32_t kLogRetryStepMs = 50;

class LogStore {
 public:
  explicit LogStore(const Env& env) : env(env) {}

  // Path + "\Logs\" + name + "_" + date + "." + extension, with the
  // separator of the platform; Path as the registry holds it now, the date
  // the clock's now or the one given.
  [[nodiscard]] std::string ComposePath(const std::string& name, const std::string& extension);
  [[nodiscard]] std::string ComposePath(const std::string& name, const std::string& extension,
                                        const LocalTime& date);
  // The daily log of a printer's jobs of day: ComposePath of its
  // DailyLogBase, "xml".
  [[nodiscard]] std::string DailyLogPath(const std::string& printerName, const LocalTime& day);

  // The whole file, or empty text when it is missing or cannot be read.
  std::string ReadAll(const std::string& path);
  // The same, telling a missing file from one that could not be read. A file
  // that is too large or not a regular file is reported.
  FileStatus ReadAll(const std::string& path, std::string* text);
  // Tries again for kLogRetryMs while the file is there but cannot be read.
  FileStatus ReadPatiently(const std::string& path, const Waiter& pause, std::string* text);
  // The same for the file name in an open folder, path naming it in
  // reports; id tells which file was read.
  FileStatus ReadPatiently(Folder& folder, const std::string& name, const std::string& path,
                           const Waiter& pause, std::string* text, FileId* id);

  // Gives what stands at path, which is not a log of ours (another
  // account's file, a folder, a link), a free name beside it and says so,
  // so that the log can be written anew. False when it could not be moved.
  bool MoveAside(const std::string& path);

  // The text in place of the file at path, whole, or the old file as it was.
  // Tries again for kLogRetryMs while another program holds the file.
  FileStatus ReplacePatiently(const std::string& path, std::string_view text, const Waiter& pause);
  // The same in two steps, for text written piece by piece in between.
  FileStatus BeginPatiently(const std::string& path, const Waiter& pause,
                            std::unique_ptr<ReplacingWriter>* writer);
  FileStatus CommitPatiently(ReplacingWriter& writer, const Waiter& pause);

 private:
  void SayWhyNotRead(const std::string& path, FileStatus status);

  Env env;
};

}  // namespace pelko
