#include "agent/files/file_finder.h"

#include <new>

namespace pelko {

namespace {

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

bool FileFinder::ClearFolders() {
  folders.clear();
  return true;
}

bool FileFinder::SetRoot(const std::string& folder, bool recursive) {
  root = folder;
  StripTrailingSeparators(root);
  if (recursive) ListSubfolders(folders, root);
  folders.push_back(root);
  return true;
}

bool FileFinder::ListSubfolders(std::vector<std::string>& list, const std::string& folder) {
  try {
    const std::string separator(1, fileSystem->Separator());
    auto search = fileSystem->Find(folder + separator + "*.*");
    if (!search) return true;
    FileEntry entry;
    while (search->Next(&entry)) {
      if ((entry.attributes & kAttributeDirectory) == 0 || entry.name == "." ||
          entry.name == "..") {
        continue;
      }
      // A link back up the tree would make the listing endless.
      if ((entry.attributes & kAttributeReparsePoint) != 0) continue;
      std::string sub = folder + separator + entry.name;
      if (!ListSubfolders(list, sub)) return false;
      list.push_back(std::move(sub));
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool FileFinder::AddFiles(const std::string& pattern, bool includeFiles, bool includeFolders) {
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    if (!ScanFolder(folder, pattern, includeFiles, includeFolders)) return false;
  }
  return true;
}

bool FileFinder::ScanFolder(const std::string& folder, const std::string& pattern,
                            bool includeFiles, bool includeFolders) {
  try {
    std::string d = folder;
    StripTrailingSeparators(d);
    d += fileSystem->Separator();
    auto search = fileSystem->Find(d + pattern);
    if (!search) return true;
    FileEntry entry;
    while (search->Next(&entry)) {
      const bool isFolder = (entry.attributes & kAttributeDirectory) != 0;
      if ((isFolder && entry.name == ".") || entry.name == "..") continue;
      if (!(isFolder ? includeFolders : includeFiles)) continue;
      files.push_back(FoundFile{d + entry.name, isFolder, entry.attributes, entry.created,
                                entry.lastWritten, entry.size});
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool FileFinder::VisitFiles(const std::string& folder, const std::string& pattern,
                            const Visitor& visit) {
  std::string path = folder;
  StripTrailingSeparators(path);
  auto opened = fileSystem->OpenFolder(path);
  if (!opened) return true;
  return VisitFolder(*opened, path, pattern, visit);
}

bool FileFinder::VisitFolder(Folder& folder, const std::string& path, const std::string& pattern,
                             const Visitor& visit) {
  try {
    const char separator = fileSystem->Separator();
    // Names first, then the folders below: one open search at a time.
    std::vector<std::string> subfolders;
    FileEntry entry;
    if (auto search = folder.Find("*.*")) {
      while (search->Next(&entry)) {
        if ((entry.attributes & kAttributeDirectory) == 0 || entry.name == "." ||
            entry.name == ".." || (entry.attributes & kAttributeReparsePoint) != 0) {
          continue;
        }
        subfolders.push_back(entry.name);
      }
    }
    for (const std::string& name : subfolders) {
      auto sub = folder.OpenFolder(name);
      if (sub && !VisitFolder(*sub, path + separator + name, pattern, visit)) return false;
    }
    auto search = folder.Find(pattern);
    if (!search) return true;
    while (search->Next(&entry)) {
      if ((entry.attributes & kAttributeDirectory) != 0) continue;
      visit(folder, FoundFile{path + separator + entry.name, false, entry.attributes, entry.created,
                              entry.lastWritten, entry.size});
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void FileFinder::StripTrailingSeparators(std::string& path) {
  for (;;) {
    std::string work = path;
    while (!work.empty() && IsWhiteSpace(work.back())) work.pop_back();
    std::size_t pos = work.rfind('\\');
    if (pos == std::string::npos) pos = work.rfind('/');
    if (pos == std::string::npos || pos + 1 != work.size()) return;
    path = work.substr(0, pos);
  }
}

}  // namespace pelko
