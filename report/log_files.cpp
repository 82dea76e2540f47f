#include "report/log_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"

namespace pelko::report {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The file at path opened for reading if it is a regular file.
ReadStatus OpenRegular(const std::string& path, std::unique_ptr<std::FILE, FileCloser>* file) {
#ifdef _WIN32
  file->reset(std::fopen(path.c_str(), "rb"));
  if (!*file) return errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kFailed;
  struct _stat64 info;
  if (_fstat64(_fileno(file->get()), &info) != 0) return ReadStatus::kFailed;
  return (info.st_mode & _S_IFMT) == _S_IFREG ? ReadStatus::kOk : ReadStatus::kNotRegular;
#else
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kFailed;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const bool seen = fstat(fd, &info) == 0;
    close(fd);
    return seen ? ReadStatus::kNotRegular : ReadStatus::kFailed;
  }
  file->reset(fdopen(fd, "rb"));
  if (!*file) {
    close(fd);
    return ReadStatus::kFailed;
  }
  return ReadStatus::kOk;
#endif
}

}  // namespace

ReadStatus ReadFileBytes(const std::string& path, uint64_t limit, std::string* bytes) {
  bytes->clear();
  std::unique_ptr<std::FILE, FileCloser> file;
  const ReadStatus opened = OpenRegular(path, &file);
  if (opened != ReadStatus::kOk) return opened;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) {
    const long size = std::ftell(file.get());
    if (size >= 0 && static_cast<uint64_t>(size) > limit) return ReadStatus::kTooLarge;
    std::rewind(file.get());
  }
  char buffer[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
    if (got > 0) {
      if (bytes->size() + got > limit) {
        bytes->clear();
        return ReadStatus::kTooLarge;
      }
      bytes->append(buffer, got);
    }
    if (got < sizeof buffer) break;
  }
  if (std::ferror(file.get())) {
    bytes->clear();
    return ReadStatus::kFailed;
  }
  return ReadStatus::kOk;
}

bool AnyDeclaresUtf8(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    std::unique_ptr<std::FILE, FileCloser> file;
    if (OpenRegular(path, &file) != ReadStatus::kOk) continue;
    char head[128];
    const std::size_t got = std::fread(head, 1, sizeof head, file.get());
    if (DeclaresUtf8(std::string_view(head, got))) return true;
  }
  return false;
}

std::vector<FoundFile> DailyLogFilesIn(FileSystem& files, const std::string& folder,
                                       std::string_view from, std::string_view to) {
  FileFinder finder(files);
  finder.SetRoot(folder, true);
  finder.AddFiles("*.xml", true, false);
  std::vector<std::pair<std::string, FoundFile>> dated;
  for (const FoundFile& found : finder.Files()) {
    const std::string date = DateOfLogName(BaseName(found.path, files.Separator()));
    if (date.empty() || IsGatheredLogName(BaseName(found.path, files.Separator()))) continue;
    if ((!from.empty() && date < from) || (!to.empty() && date > to)) continue;
    dated.emplace_back(date, found);
  }
  std::sort(dated.begin(), dated.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second.path < b.second.path;
  });
  std::vector<FoundFile> logs;
  for (auto& [date, found] : dated) logs.push_back(std::move(found));
  return logs;
}

std::vector<std::string> DailyLogsIn(FileSystem& files, const std::string& folder,
                                     std::string_view from, std::string_view to) {
  std::vector<std::string> paths;
  for (FoundFile& found : DailyLogFilesIn(files, folder, from, to))
    paths.push_back(std::move(found.path));
  return paths;
}

}  // namespace pelko::report
