#include "stoptool/posix_stop_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

#include "stoptool/stop_tool.h"

namespace pelko::stoptool {
namespace {

constexpr char kAgentCommandName[] = "pelkomon";

class ListedSnapshot : public ProcessSnapshot {
 public:
  explicit ListedSnapshot(std::vector<ProcessEntry> entries)
      : entries_(std::move(entries)) {}

  bool First(ProcessEntry* entry) override {
    next_ = 0;
    return Next(entry);
  }

  bool Next(ProcessEntry* entry) override {
    if (next_ >= entries_.size()) return false;
    *entry = entries_[next_++];
    return true;
  }

 private:
  std::vector<ProcessEntry> entries_;
  size_t next_ = 0;
};

bool ParseId(const char* text, uint32_t* id) {
  const char* end = text;
  while (*end >= '0' && *end <= '9') ++end;
  if (end == text || *end != '\0') return false;
  return std::from_chars(text, end, *id).ec == std::errc();
}

// At most the first 4096 bytes: enough for a command name or argv[0].
bool ReadHead(const std::string& path, std::string* text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[4096];
  ssize_t got = read(fd, buffer, sizeof buffer);
  close(fd);
  if (got < 0) return false;
  text->assign(buffer, static_cast<size_t>(got));
  return true;
}

// The last component of a path; a Windows program run under an emulator
// shows its path with backslashes.
std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> NamesOf(const std::string& dir) {
  std::vector<std::string> names;
  auto add = [&names](std::string name) {
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(std::move(name));
    }
  };

  char target[4096];
  ssize_t length = readlink((dir + "/exe").c_str(), target, sizeof target);
  if (length > 0) add(BaseName(std::string(target, static_cast<size_t>(length))));

  std::string text;
  if (ReadHead(dir + "/comm", &text)) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    add(text);
  }
  if (ReadHead(dir + "/cmdline", &text)) {
    add(BaseName(text.substr(0, text.find('\0'))));
  }
  return names;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  auto fold = [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
           return fold(static_cast<unsigned char>(x)) == fold(static_cast<unsigned char>(y));
         });
}

}  // namespace

PosixStopPlatform::PosixStopPlatform(std::string procRoot, uint32_t self)
    : procRoot_(std::move(procRoot)), self_(self) {}

bool PosixStopPlatform::StartUp() { return true; }

bool PosixStopPlatform::ListProcesses(std::vector<ProcessEntry>* entries) const {
  DIR* dir = opendir(procRoot_.c_str());
  if (dir == nullptr) return false;
  std::vector<uint32_t> ids;
  while (const dirent* item = readdir(dir)) {
    uint32_t id = 0;
    if (ParseId(item->d_name, &id) && id != self_) ids.push_back(id);
  }
  closedir(dir);
  std::sort(ids.begin(), ids.end());

  entries->clear();
  for (uint32_t id : ids) {
    for (std::string& name : NamesOf(procRoot_ + "/" + std::to_string(id))) {
      entries->push_back({id, std::move(name)});
    }
  }
  return true;
}

std::optional<StopPlatform::WindowId> PosixStopPlatform::FindWindowByTitle(
    const std::string& title) {
  std::vector<ProcessEntry> entries;
  if (!ListProcesses(&entries)) return std::nullopt;
  for (const ProcessEntry& entry : entries) {
    if (entry.exeName == title) return entry.id;
  }
  return std::nullopt;
}

void PosixStopPlatform::PostClose(WindowId window) {
  kill(static_cast<pid_t>(window), SIGTERM);
}

std::unique_ptr<ProcessSnapshot> PosixStopPlatform::TakeSnapshot() {
  std::vector<ProcessEntry> entries;
  if (!ListProcesses(&entries)) return nullptr;
  return std::make_unique<ListedSnapshot>(std::move(entries));
}

bool PosixStopPlatform::TerminateProcessById(uint32_t id) {
  // The agent ends with status 0 on SIGTERM.
  return kill(static_cast<pid_t>(id), SIGTERM) == 0;
}

bool IsAgentExeName(const std::string& exeName) {
  return EqualsIgnoringAsciiCase(exeName, kAgentCommandName) ||
         EqualsIgnoringAsciiCase(exeName, kAgentExeName);
}

std::unique_ptr<StopPlatform> MakeSystemStopPlatform() {
  return std::make_unique<PosixStopPlatform>("/proc", static_cast<uint32_t>(getpid()));
}

}  // namespace pelko::stoptool
