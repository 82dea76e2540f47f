// A folder of files that a web server serves as they are (pelkoreport
// --site): each file is made new under a temporary name beside it, written
// whole and then put in place of the old one in one step, so that a reader
// gets the old file or the new, never part of one. Nothing is written or
// read through a link: an entry that is a link (or anything but a regular
// file) is refused. On POSIX the folder, when made, is 0755 and every file
// 0644, whatever the umask: the pages are there to be read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "agent/platform/files.h"

namespace pelko {

struct SiteEntry {
  std::string name;
  uint64_t size = 0;
  bool regular = false;  // a regular file: not a link, folder or device
};

class SiteFolder {
 public:
  virtual ~SiteFolder() = default;
  // Every entry of the folder, links as themselves.
  virtual std::vector<SiteEntry> List() = 0;
  // A regular file's bytes, at most limit of them (kTooLarge beyond).
  virtual FileStatus Read(const std::string& name, uint64_t limit, std::string* bytes) = 0;
  // bytes in place of the file name (which need not exist); kNotRegular
  // where name is a link or no regular file, and then nothing is written.
  virtual FileStatus Replace(const std::string& name, std::string_view bytes) = 0;
  // Removes the file name, or the link (never what it names); kNotRegular
  // for a folder.
  virtual FileStatus Remove(const std::string& name) = 0;
};

// The temporary name Replace writes name under.
inline std::string SiteTemporaryName(const std::string& name) { return "." + name + ".tmp"; }

// The folder at path, made if missing (its parent must exist); null with
// *error when it cannot be made or opened.
std::unique_ptr<SiteFolder> OpenSiteFolder(const std::string& path, std::string* error);

}  // namespace pelko
