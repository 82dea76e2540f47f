// An in-memory folder tree with the file service's semantics: exclusive
// opens (a held file is kBusy), atomic replaces through a visible temporary
// file, case-insensitive patterns. Win32's separator and name rules unless
// told otherwise.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/platform/files.h"

namespace pelko {

class FakeFileSystem : public FileSystem {
 public:
  explicit FakeFileSystem(char separator = '\\') : separator(separator) {}

  char Separator() const override { return separator; }
  bool IsNameByte(unsigned char c) const override;
  std::unique_ptr<FileSearch> Find(const std::string& pattern) override;
  std::unique_ptr<Folder> OpenFolder(const std::string& path) override;
  bool Exists(const std::string& path) override;
  FileStatus ReadText(const std::string& path, std::string* text) override;
  FileStatus BeginReplace(const std::string& path,
                          std::unique_ptr<ReplacingWriter>* writer) override;
  FileStatus Delete(const std::string& path) override;

  // Set-up and inspection. Folders are made with their parents.
  void AddFolder(const std::string& path);
  void PutFile(const std::string& path, const std::string& text);
  // A file that is not regular (a link, a pipe, a device): listed, never read.
  void PutNonRegular(const std::string& path);
  // A file of another account's: listed, never read (kNotOurs).
  void PutForeign(const std::string& path, const std::string& text);
  // Folder::Rename within one folder: the entry (a folder with all below
  // it) takes the free name to.
  FileStatus Rename(const std::string& from, const std::string& to);
  // A file of that many bytes without their text, as a sparse file is.
  void PutSized(const std::string& path, uint64_t bytes);
  std::optional<std::string> Text(const std::string& path);
  // Every file path under folder (at any depth), sorted.
  std::vector<std::string> FilesUnder(const std::string& folder);
  // While held, every open of the file fails with kBusy, as if another
  // program had it open.
  void Hold(const std::string& path);
  void Release(const std::string& path);
  // The next n opens of path fail with kBusy.
  void BusyFor(const std::string& path, int n);
  // The next n reads of path fail part-way (kFailed).
  void FailReads(const std::string& path, int n);
  // Writes fail once a writer has taken this many bytes (a full disk).
  void FailWritesAfter(std::size_t bytes);
  // Every text committed, with its path, in order.
  std::vector<std::pair<std::string, std::string>> Committed();
  int Reads(const std::string& path);

 private:
  struct Node {
    bool folder = false;
    std::string text;
    uint64_t created = 0;
    uint64_t lastWritten = 0;
    bool regular = true;
    bool ours = true;
    uint64_t size = 0;  // above text.size() for a sparse file
  };
  class Writer;
  class Search;
  class FakeFolder;

  std::string Parent(const std::string& path) const;
  bool FolderExists(const std::string& path) const;  // mutex held
  bool TakeBusy(const std::string& path);            // mutex held
  FileStatus Commit(const std::string& path, const std::string& temporary, const std::string& text);
  void DropTemporary(const std::string& temporary);
  void TouchFolder(const std::string& folder);  // mutex held

  char separator;
  std::mutex mutex;
  std::map<std::string, Node> nodes;
  std::map<std::string, int> held;
  std::map<std::string, int> busy;
  std::map<std::string, int> failingReads;
  std::map<std::string, int> reads;
  std::optional<std::size_t> writeLimit;
  std::vector<std::pair<std::string, std::string>> committed;
  uint64_t fileTime = 133000000000000000ULL;
};

}  // namespace pelko
