#include "tests/fakes/fake_files.h"

#include <algorithm>
#include <functional>

namespace pelko {

class FakeFileSystem::Search : public FileSearch {
 public:
  explicit Search(std::vector<FileEntry> entries) : entries(std::move(entries)) {}
  bool Next(FileEntry* entry) override {
    if (at >= entries.size()) return false;
    *entry = entries[at++];
    return true;
  }

 private:
  std::vector<FileEntry> entries;
  std::size_t at = 0;
};

class FakeFileSystem::FakeFolder : public Folder {
 public:
  FakeFolder(FakeFileSystem* files, std::string path) : files(files), path(std::move(path)) {}
  std::unique_ptr<FileSearch> Find(const std::string& pattern) override {
    return files->Find(path + files->separator + pattern);
  }
  std::unique_ptr<Folder> OpenFolder(const std::string& name) override {
    if (name.find(files->separator) != std::string::npos) return nullptr;
    return files->OpenFolder(path + files->separator + name);
  }
  FileStatus Delete(const std::string& name) override {
    return files->Delete(path + files->separator + name);
  }
  FileStatus ReadText(const std::string& name, std::string* text, FileId* id) override {
    if (name.find(files->separator) != std::string::npos) return FileStatus::kMissing;
    const std::string full = path + files->separator + name;
    // One file a path: the fake has no hard links.
    if (id != nullptr) *id = FileId{0, std::hash<std::string>()(full)};
    return files->ReadText(full, text);
  }
  FileStatus Rename(const std::string& from, const std::string& to) override {
    if (from.find(files->separator) != std::string::npos ||
        to.find(files->separator) != std::string::npos) {
      return FileStatus::kFailed;
    }
    return files->Rename(path + files->separator + from, path + files->separator + to);
  }

 private:
  FakeFileSystem* files;
  std::string path;
};

class FakeFileSystem::Writer : public ReplacingWriter {
 public:
  Writer(FakeFileSystem* files, std::string path, std::string temporary,
         std::optional<std::size_t> limit)
      : files(files), path(std::move(path)), temporary(std::move(temporary)), limit(limit) {}
  ~Writer() override {
    if (!done) files->DropTemporary(temporary);
  }
  bool Append(std::string_view text) override {
    if (done || failed) return false;
    if (limit && text.size() + written.size() > *limit) {
      failed = true;
      return false;
    }
    written.append(text);
    return true;
  }
  FileStatus Commit() override {
    if (done || failed) {
      if (!done) files->DropTemporary(temporary);
      done = true;
      return FileStatus::kFailed;
    }
    const FileStatus status = files->Commit(path, temporary, written);
    if (status != FileStatus::kBusy) done = true;
    return status;
  }

 private:
  FakeFileSystem* files;
  std::string path;
  std::string temporary;
  std::optional<std::size_t> limit;
  std::string written;
  bool failed = false;
  bool done = false;
};

bool FakeFileSystem::IsNameByte(unsigned char c) const {
  if (separator == '/') return c != '/' && c != '\0';
  return c >= 0x20 &&
         std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) == std::string_view::npos;
}

std::string FakeFileSystem::Parent(const std::string& path) const {
  const std::size_t at = path.rfind(separator);
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

bool FakeFileSystem::FolderExists(const std::string& path) const {
  auto node = nodes.find(path);
  return node != nodes.end() && node->second.folder;
}

bool FakeFileSystem::TakeBusy(const std::string& path) {
  if (held[path] > 0) return true;
  auto b = busy.find(path);
  if (b != busy.end() && b->second > 0) {
    --b->second;
    return true;
  }
  return false;
}

std::unique_ptr<FileSearch> FakeFileSystem::Find(const std::string& pattern) {
  std::lock_guard<std::mutex> lock(mutex);
  const std::string folder = Parent(pattern);
  const std::string name = pattern.substr(folder.size() + 1);
  if (!FolderExists(folder)) return nullptr;
  std::vector<FileEntry> entries;
  for (const char* dots : {".", ".."}) {
    if (MatchesPattern(dots, name)) {
      entries.push_back(FileEntry{dots, kAttributeDirectory, 0, 0, 0});
    }
  }
  for (const auto& [path, node] : nodes) {
    if (path.size() <= folder.size() + 1 || path.compare(0, folder.size(), folder) != 0 ||
        path[folder.size()] != separator ||
        path.find(separator, folder.size() + 1) != std::string::npos) {
      continue;
    }
    const std::string entryName = path.substr(folder.size() + 1);
    if (!MatchesPattern(entryName, name)) continue;
    entries.push_back(FileEntry{entryName, node.folder ? kAttributeDirectory : kAttributeArchive,
                                node.created, node.lastWritten,
                                node.folder ? 0 : std::max<uint64_t>(node.size, node.text.size())});
  }
  if (entries.empty()) return nullptr;
  return std::make_unique<Search>(std::move(entries));
}

std::unique_ptr<Folder> FakeFileSystem::OpenFolder(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!FolderExists(path)) return nullptr;
  return std::make_unique<FakeFolder>(this, path);
}

bool FakeFileSystem::Exists(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  return nodes.count(path) != 0;
}

FileStatus FakeFileSystem::ReadText(const std::string& path, std::string* text) {
  std::lock_guard<std::mutex> lock(mutex);
  text->clear();
  ++reads[path];
  auto node = nodes.find(path);
  if (node == nodes.end()) return FileStatus::kMissing;
  if (TakeBusy(path)) return FileStatus::kBusy;
  if (node->second.folder || !node->second.regular) return FileStatus::kNotRegular;
  if (!node->second.ours) return FileStatus::kNotOurs;
  if (node->second.size > kMaxTextFileBytes) return FileStatus::kTooLarge;
  auto failing = failingReads.find(path);
  if (failing != failingReads.end() && failing->second > 0) {
    --failing->second;
    return FileStatus::kFailed;
  }
  *text = node->second.text;
  return FileStatus::kOk;
}

FileStatus FakeFileSystem::BeginReplace(const std::string& path,
                                        std::unique_ptr<ReplacingWriter>* writer) {
  std::lock_guard<std::mutex> lock(mutex);
  writer->reset();
  if (!FolderExists(Parent(path))) return FileStatus::kMissing;
  const std::string temporary = path + ".tmp";
  if (TakeBusy(temporary)) return FileStatus::kBusy;
  Node& node = nodes[temporary];
  node.text.clear();
  node.created = node.lastWritten = ++fileTime;
  *writer = std::make_unique<Writer>(this, path, temporary, writeLimit);
  return FileStatus::kOk;
}

FileStatus FakeFileSystem::Commit(const std::string& path, const std::string& temporary,
                                  const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  if (TakeBusy(path)) return FileStatus::kBusy;
  if (!FolderExists(Parent(path))) {
    nodes.erase(temporary);
    return FileStatus::kMissing;
  }
  nodes.erase(temporary);
  Node& node = nodes[path];
  if (node.created == 0) node.created = fileTime + 1;
  node.lastWritten = ++fileTime;
  node.text = text;
  node.regular = true;
  node.size = 0;
  TouchFolder(Parent(path));
  committed.emplace_back(path, text);
  return FileStatus::kOk;
}

void FakeFileSystem::DropTemporary(const std::string& temporary) {
  std::lock_guard<std::mutex> lock(mutex);
  nodes.erase(temporary);
}

FileStatus FakeFileSystem::Delete(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  auto node = nodes.find(path);
  if (node == nodes.end()) return FileStatus::kMissing;
  if (node->second.folder || TakeBusy(path)) return FileStatus::kBusy;
  nodes.erase(node);
  TouchFolder(Parent(path));
  return FileStatus::kOk;
}

void FakeFileSystem::PutForeign(const std::string& path, const std::string& text) {
  PutFile(path, text);
  std::lock_guard<std::mutex> lock(mutex);
  nodes[path].ours = false;
}

FileStatus FakeFileSystem::Rename(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> lock(mutex);
  if (nodes.count(from) == 0) return FileStatus::kMissing;
  if (nodes.count(to) != 0) return FileStatus::kBusy;
  std::vector<std::pair<std::string, Node>> moved;
  for (auto at = nodes.begin(); at != nodes.end();) {
    const std::string& p = at->first;
    if (p == from || (p.size() > from.size() && p.compare(0, from.size(), from) == 0 &&
                      p[from.size()] == separator)) {
      moved.emplace_back(to + p.substr(from.size()), std::move(at->second));
      at = nodes.erase(at);
    } else {
      ++at;
    }
  }
  for (auto& [p, node] : moved) nodes[p] = std::move(node);
  return FileStatus::kOk;
}

void FakeFileSystem::AddFolder(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  for (std::size_t at = path.find(separator, 1); at != std::string::npos;
       at = path.find(separator, at + 1)) {
    nodes[path.substr(0, at)].folder = true;
  }
  nodes[path].folder = true;
}

void FakeFileSystem::PutFile(const std::string& path, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  Node& node = nodes[path];
  node = Node{};
  node.text = text;
  node.created = node.lastWritten = ++fileTime;
  TouchFolder(Parent(path));
}

// A folder's time of writing moves when a name in it comes, goes or is
// given to another file, as on both platforms.
void FakeFileSystem::TouchFolder(const std::string& folder) {
  auto node = nodes.find(folder);
  if (node != nodes.end() && node->second.folder) node->second.lastWritten = fileTime;
}

void FakeFileSystem::PutNonRegular(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  Node& node = nodes[path];
  node = Node{};
  node.regular = false;
  node.created = node.lastWritten = ++fileTime;
}

void FakeFileSystem::PutSized(const std::string& path, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex);
  Node& node = nodes[path];
  node = Node{};
  node.size = bytes;
  node.created = node.lastWritten = ++fileTime;
}

std::optional<std::string> FakeFileSystem::Text(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  auto node = nodes.find(path);
  if (node == nodes.end() || node->second.folder) return std::nullopt;
  return node->second.text;
}

std::vector<std::string> FakeFileSystem::FilesUnder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<std::string> found;
  for (const auto& [path, node] : nodes) {
    if (!node.folder && path.size() > folder.size() &&
        path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == separator) {
      found.push_back(path);
    }
  }
  return found;
}

void FakeFileSystem::Hold(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  ++held[path];
}

void FakeFileSystem::Release(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  if (held[path] > 0) --held[path];
}

void FakeFileSystem::BusyFor(const std::string& path, int n) {
  std::lock_guard<std::mutex> lock(mutex);
  busy[path] = n;
}

void FakeFileSystem::FailReads(const std::string& path, int n) {
  std::lock_guard<std::mutex> lock(mutex);
  failingReads[path] = n;
}

void FakeFileSystem::FailWritesAfter(std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex);
  writeLimit = bytes;
}

std::vector<std::pair<std::string, std::string>> FakeFileSystem::Committed() {
  std::lock_guard<std::mutex> lock(mutex);
  return committed;
}

int FakeFileSystem::Reads(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  return reads[path];
}

}  // namespace pelko
