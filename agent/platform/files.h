// File service: the few file and folder operations the log files need, with
// Win32's semantics on every platform. Every open of a file is exclusive:
// while one open (of this process or another agent process) holds a file,
// every other open of it fails with kBusy, as share mode 0 does on Win32.
// Only regular files of the agent's own account are read (on Win32 also
// those of SYSTEM or Administrators), never through a link, and never more
// than kMaxTextFileBytes of them.
//
// Safe for concurrent use from any thread. A FileSearch, Folder or
// ReplacingWriter belongs to the thread that made it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "agent/util/coding.h"

namespace pelko {

inline constexpr uint32_t kAttributeReadOnly = 0x01;
inline constexpr uint32_t kAttributeDirectory = 0x10;
inline constexpr uint32_t kAttributeArchive = 0x20;
inline constexpr uint32_t kAttributeReparsePoint = 0x400;

// The most ReadText takes in: a log is a day's jobs of one printer, and a
// sparse or endless file must not take the agent's memory.
inline constexpr uint64_t kMaxTextFileBytes = uint64_t{64} << 20;

enum class FileStatus {
  kOk,
  kMissing,     // no such file, or its folder is missing
  kBusy,        // there, but held by another open or refused: worth retrying
  kFailed,      // any other failure, such as a read error or a full disk
  kTooLarge,    // a file over kMaxTextFileBytes: not read
  kNotRegular,  // a link, a folder, a pipe or a device where a file should be
  kNotOurs,     // a file of another account's: anyone could have put it there
};

// Which file a read found, whatever names it has: hard links share one.
struct FileId {
  uint64_t device = 0;
  uint64_t index = 0;
  bool operator<(const FileId& other) const {
    return device != other.device ? device < other.device : index < other.index;
  }
};

// One entry of a folder listing, as FindFirstFileA/FindNextFileA give it.
struct FileEntry {
  std::string name;
  uint32_t attributes = 0;
  uint64_t created = 0;      // file time: 100 ns units since 1601-01-01 UTC
  uint64_t lastWritten = 0;  // same unit
  uint64_t size = 0;
};

// An enumeration under way; destroying it ends it (FindClose).
class FileSearch {
 public:
  virtual ~FileSearch() = default;
  // The next matching entry; false at the end.
  virtual bool Next(FileEntry* entry) = 0;
};

// A folder held open: what is found, entered or deleted through it stays in
// the folder that was opened, even if its name is meanwhile given to another
// folder or to a link.
class Folder {
 public:
  virtual ~Folder() = default;
  // Enumerates the entries of this folder matching pattern, as
  // FileSystem::Find does.
  virtual std::unique_ptr<FileSearch> Find(const std::string& pattern) = 0;
  // The folder name in this one, never entered through a link; nullptr when
  // name is not a folder (any more).
  virtual std::unique_ptr<Folder> OpenFolder(const std::string& name) = 0;
  // Deletes the file name in this folder; a link is removed, never what it
  // names. kBusy while another open holds the file.
  virtual FileStatus Delete(const std::string& name) = 0;
  // The file name in this folder, as FileSystem::ReadText reads it; id
  // tells which file it was.
  virtual FileStatus ReadText(const std::string& name, std::string* text, FileId* id) = 0;
  // Gives the entry from (whatever it is, a link or a folder too) the name
  // to, which must be free; both stay in this folder.
  virtual FileStatus Rename(const std::string& from, const std::string& to) = 0;
};

// The text of a file being replaced, written to a temporary file beside it.
// Destroying a writer that has not committed removes the temporary file and
// leaves the old file as it was.
class ReplacingWriter {
 public:
  virtual ~ReplacingWriter() = default;
  // False once a write has failed; later appends do nothing.
  virtual bool Append(std::string_view text) = 0;
  // Flushes the text to the disk and puts it in place of the file in one
  // step. kBusy while another open holds the file; Commit may then be tried
  // again. Any other failure ends the writer.
  virtual FileStatus Commit() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // "\" on Win32, "/" on POSIX.
  virtual char Separator() const = 0;
  // Whether a byte may stand in a file name here (the separator may not).
  virtual bool IsNameByte(unsigned char c) const = 0;

  // Enumerates pattern: a folder, the separator, then a name in which "*"
  // stands for any run of characters and "?" for one, matched without
  // regard to case; "*.*" matches every name. nullptr when the enumeration
  // cannot start: no such folder, no access, or nothing matches.
  virtual std::unique_ptr<FileSearch> Find(const std::string& pattern) = 0;

  // The folder at path, held open; nullptr when there is none.
  virtual std::unique_ptr<Folder> OpenFolder(const std::string& path) = 0;

  // Whether anything (file or folder) stands at path.
  virtual bool Exists(const std::string& path) = 0;

  // The whole file in text mode (CR LF reads as LF on Win32), opened
  // exclusively. kNotRegular for anything but a regular file (a link to one
  // included), kNotOurs for another account's file, kTooLarge over
  // kMaxTextFileBytes. On anything but kOk, text is empty.
  virtual FileStatus ReadText(const std::string& path, std::string* text) = 0;

  // Starts replacing the file at path (which need not exist yet) by new
  // text, written in text mode, through a temporary file made new beside
  // it. Whatever stood at path, a link included, is replaced, never written
  // through. On anything but kOk, *writer is null.
  virtual FileStatus BeginReplace(const std::string& path,
                                  std::unique_ptr<ReplacingWriter>* writer) = 0;

  // kBusy while another open holds the file.
  virtual FileStatus Delete(const std::string& path) = 0;

  // The whole of text in place of the file at path, or on any failure the
  // old file as it was: BeginReplace, Append, Commit.
  FileStatus ReplaceText(const std::string& path, std::string_view text) {
    std::unique_ptr<ReplacingWriter> writer;
    const FileStatus begun = BeginReplace(path, &writer);
    if (begun != FileStatus::kOk) return begun;
    if (!writer->Append(text)) return FileStatus::kFailed;
    return writer->Commit();
  }
};

namespace files_detail {
// Wildcard match with one backtracking point: linear in practice, never
// exponential whatever the pattern.
inline bool Match(std::string_view name, std::string_view pattern) {
  std::size_t n = 0, p = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || AsciiLower(pattern[p]) == AsciiLower(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}
}  // namespace files_detail

// "*" any run, "?" any one byte, ASCII letters without regard to case; a
// pattern ending in ".*" also matches the name without that ending, so that
// "*.*" matches every name as on Win32.
inline bool MatchesPattern(std::string_view name, std::string_view pattern) {
  if (files_detail::Match(name, pattern)) return true;
  return pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
         files_detail::Match(name, pattern.substr(0, pattern.size() - 2));
}

FileSystem& PlatformFileSystem();

}  // namespace pelko
