// Lists the files that match a pattern in a folder and in every folder below
// it, the deepest folders first. A finder only ever adds: take a new one for
// a fresh listing. Not thread-safe; each finder belongs to one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/platform/files.h"

namespace pelko {

struct FoundFile {
  std::string path;  // the scanned folder, the separator, the entry's name
  bool isFolder = false;
  uint32_t attributes = 0;
  uint64_t created = 0;      // file time
  uint64_t lastWritten = 0;  // file time
  uint64_t size = 0;
};

class FileFinder {
 public:
  explicit FileFinder(FileSystem& fileSystem) : fileSystem(&fileSystem) {}
  virtual ~FileFinder() = default;

  // Empties folders; files keeps what it found.
  bool ClearFolders();
  // root := folder without trailing separators; with recursive, every folder
  // below it in post-order; then root itself, last.
  bool SetRoot(const std::string& folder, bool recursive);
  // Appends every folder below folder, each after all the folders below it.
  // Folders reached through a link are not entered. False when memory ran
  // out; what was found until then stays.
  bool ListSubfolders(std::vector<std::string>& list, const std::string& folder);
  // ScanFolder on each of folders in turn, skipping empty texts; false at the
  // first scan that fails.
  bool AddFiles(const std::string& pattern, bool includeFiles, bool includeFolders);
  // Appends each entry of folder that matches pattern and is kept by the
  // flags. False when memory ran out.
  bool ScanFolder(const std::string& folder, const std::string& pattern, bool includeFiles,
                  bool includeFolders);
  // Cuts trailing white space and separators: while the last backslash (the
  // last slash only where there is no backslash at all) ends the text.
  static void StripTrailingSeparators(std::string& path);

  std::string root;
  std::vector<std::string> folders;
  std::vector<FoundFile> files;

 private:
  FileSystem* fileSystem;
};

}  // namespace pelko
