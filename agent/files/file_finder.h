// Lists the files that match a pattern in a folder and in every folder below
// it, the deepest folders first. A finder only ever adds: take a new one for
// a fresh listing. Not thread-safe; each finder belongs to one thread.
#pragma once

#include <cstdint>
#include <functional>
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
  // Visits, in the order SetRoot and AddFiles would list them, every file
  // matching pattern in folder and the folders below it, with the folder it
  // was found in, held open: what the visitor deletes through it is the file
  // it was shown, even if a folder's name has meanwhile been given to a link.
  // Adds nothing to folders or files. False when memory ran out.
  using Visitor = std::function<void(Folder& folder, const FoundFile& file)>;
  bool VisitFiles(const std::string& folder, const std::string& pattern, const Visitor& visit);
  // Cuts trailing white space and separators: while the last backslash (the
  // last slash only where there is no backslash at all) ends the text.
  static void StripTrailingSeparators(std::string& path);

  // What SetRoot, AddFiles and ScanFolder found so far.
  const std::string& Root() const { return root; }
  const std::vector<std::string>& Folders() const { return folders; }
  const std::vector<FoundFile>& Files() const { return files; }

 private:
  bool VisitFolder(Folder& folder, const std::string& path, const std::string& pattern,
                   const Visitor& visit);

  FileSystem* fileSystem;
  std::string root;
  std::vector<std::string> folders;
  std::vector<FoundFile> files;
};

}  // namespace pelko
