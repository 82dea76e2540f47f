// The report site's files: their names, made from user and printer names
// that anyone who prints may choose, and the state file by which a run
// finds that nothing changed since the last (docs/report.md, "The report
// site").
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "agent/platform/files.h"
#include "agent/platform/site_folder.h"

namespace pelko::report {

inline constexpr std::string_view kSiteStateName = ".pelko-site";

// prefix and name as a file's base name: ASCII lower-case letters, digits
// and '-' stay, every other byte is "_XX" (lower-case hex), so the name has
// no separator, dot, control or upper-case letter (no two names clash on a
// file system blind to case), no reserved Windows name follows the prefix,
// and different names stay different. A name too long for a file is cut
// and ends in "_h" and the hash of the whole, which no escaped name can.
std::string SafeBaseName(std::string_view prefix, std::string_view name);

// 64-bit FNV-1a of text, as 16 hex digits.
std::string HashText(std::string_view text);

// The name, size and time of every log a site from logs reads: the daily
// logs of each folder (from..to, as pelkoreport reads them) and each file
// given, with the settings in extra; hashed. A site made from the same
// digest needs no new reading of the logs.
std::string LogsDigest(FileSystem& files, const std::vector<std::string>& inputs,
                       std::string_view from, std::string_view to, std::string_view extra);

// Puts a run's files into the site folder: each only where its bytes
// differ from the file there, the files of the previous run that this one
// did not make removed, and the state file written last.
class SitePublisher {
 public:
  explicit SitePublisher(SiteFolder& folder);
  // Whether the last run was made from inputs (a LogsDigest) and each of
  // its files is still there at the size it wrote.
  bool Current(const std::string& inputs);
  // A file of this run; false with the reason in Errors() when it could not
  // be written (a link at its name is never written through).
  bool Put(const std::string& name, std::string_view bytes);
  // Ends the run; inputs empty where none can tell (the database).
  bool Finish(const std::string& inputs);

  int written = 0, kept = 0, removed = 0;
  const std::vector<std::string>& Errors() const { return errors; }

 private:
  void Fail(const std::string& name, FileStatus status, std::string_view what);

  SiteFolder& folder;
  std::string oldInputs;
  std::map<std::string, uint64_t> oldFiles, newFiles;
  std::vector<std::string> errors;
};

}  // namespace pelko::report
