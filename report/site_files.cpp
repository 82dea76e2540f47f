#include "report/site_files.h"

#include <cinttypes>
#include <cstdio>
#include <set>

#include "agent/files/file_finder.h"
#include "agent/util/coding.h"
#include "report/log_files.h"

namespace pelko::report {

namespace {

// Escaped names longer than this are cut and hashed: with a prefix and an
// ending they stay far below any file system's limit.
constexpr std::size_t kLongestEscaped = 64;
constexpr std::size_t kCutEscaped = 44;
constexpr uint64_t kLargestSiteFile = uint64_t{1} << 30;
constexpr std::string_view kStateHead = "pelko-site 1\n";

}  // namespace

std::string HashText(std::string_view text) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016" PRIx64, Fnv1a64(text));
  return hex;
}

std::string SafeBaseName(std::string_view prefix, std::string_view name) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (const unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') {
      escaped += static_cast<char>(c);
    } else {
      escaped += '_';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    }
  }
  if (escaped.size() > kLongestEscaped) {
    // Not inside an escape: the cut ends before its '_'.
    std::size_t cut = kCutEscaped;
    if (escaped[cut - 1] == '_')
      cut -= 1;
    else if (escaped[cut - 2] == '_')
      cut -= 2;
    escaped.resize(cut);
    escaped += "_h" + HashText(name);
  }
  return std::string(prefix) + escaped;
}

std::string LogsDigest(FileSystem& files, const std::vector<std::string>& inputs,
                       std::string_view from, std::string_view to, std::string_view extra) {
  std::string manifest(extra);
  auto add = [&](const std::string& path, uint64_t size, uint64_t written) {
    manifest += '\n' + path + '\t' + std::to_string(size) + '\t' + std::to_string(written);
  };
  for (const std::string& input : inputs) {
    std::vector<FoundFile> logs = DailyLogFilesIn(files, input, from, to);
    if (!logs.empty()) {
      for (const FoundFile& log : logs) add(log.path, log.size, log.lastWritten);
      continue;
    }
    FileEntry entry;
    auto search = files.Find(input);
    if (search && search->Next(&entry)) {
      add(input, entry.size, entry.lastWritten);
    } else {
      add(input, 0, 0);
    }
  }
  return HashText(manifest);
}

SitePublisher::SitePublisher(SiteFolder& folder) : folder(folder) {
  std::string text;
  if (folder.Read(std::string(kSiteStateName), 1 << 24, &text) != FileStatus::kOk ||
      text.rfind(kStateHead, 0) != 0) {
    return;
  }
  std::size_t at = kStateHead.size();
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    if (line.rfind("inputs ", 0) == 0) {
      oldInputs = line.substr(space + 1);
    } else {
      oldFiles[line.substr(space + 1)] = std::strtoull(line.c_str(), nullptr, 10);
    }
  }
}

bool SitePublisher::Current(const std::string& inputs) {
  if (inputs.empty() || inputs != oldInputs || oldFiles.empty()) return false;
  std::map<std::string, uint64_t> there;
  for (const SiteEntry& entry : folder.List()) {
    if (entry.regular) there[entry.name] = entry.size;
  }
  for (const auto& [name, size] : oldFiles) {
    const auto found = there.find(name);
    if (found == there.end() || found->second != size) return false;
  }
  return true;
}

void SitePublisher::Fail(const std::string& name, FileStatus status, std::string_view what) {
  errors.push_back(name + ": " +
                   (status == FileStatus::kNotRegular
                        ? "a link or no regular file: not " + std::string(what)
                        : "could not be " + std::string(what)));
}

bool SitePublisher::Put(const std::string& name, std::string_view bytes) {
  newFiles[name] = bytes.size();
  std::string old;
  const FileStatus read = folder.Read(name, bytes.size(), &old);
  if (read == FileStatus::kOk && old == bytes) {
    ++kept;
    return true;
  }
  const FileStatus status = folder.Replace(name, bytes);
  if (status != FileStatus::kOk) {
    Fail(name, status, "written");
    return false;
  }
  ++written;
  return true;
}

bool SitePublisher::Finish(const std::string& inputs) {
  std::set<std::string> temporaries;
  for (const auto& files : {oldFiles, newFiles}) {
    for (const auto& [name, size] : files) temporaries.insert(SiteTemporaryName(name));
  }
  for (const SiteEntry& entry : folder.List()) {
    // A page whose source is gone, and what a killed run left.
    const bool gone = oldFiles.count(entry.name) != 0 && newFiles.count(entry.name) == 0;
    if (!gone && temporaries.count(entry.name) == 0) continue;
    const FileStatus status = folder.Remove(entry.name);
    if (status != FileStatus::kOk) {
      Fail(entry.name, status, "removed");
    } else if (gone) {
      ++removed;
    }
  }
  // A run that failed part-way is no state to skip the next by.
  std::string state(kStateHead);
  state += "inputs " + (errors.empty() ? inputs : std::string("-")) + "\n";
  for (const auto& [name, size] : newFiles) state += std::to_string(size) + " " + name + "\n";
  std::string old;
  if (folder.Read(std::string(kSiteStateName), kLargestSiteFile, &old) != FileStatus::kOk ||
      old != state) {
    const FileStatus status = folder.Replace(std::string(kSiteStateName), state);
    if (status != FileStatus::kOk) Fail(std::string(kSiteStateName), status, "written");
  }
  return errors.empty();
}

}  // namespace pelko::report
