// The locks that make every open of a log exclusive among the agent's own
// threads and processes. A lock on the log itself could be taken by anyone
// who may read the log and would keep the agent from writing; these are
// lock files in a folder that only the agent's user can enter (for root
// /run/pelko-locks, else /tmp/pelko-locks-<uid>), one per file, named by
// the file's folder (device and inode) and name.
#pragma once

#include <string>

#include "agent/platform/files.h"

namespace pelko {

class FileLock {
 public:
  FileLock() = default;
  FileLock(FileLock&& other) noexcept : fd(other.fd), name(std::move(other.name)) { other.fd = -1; }
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() { Release(); }

  // Locks the file name in the open folder folderFd. kBusy while another
  // FileLock holds it, kMissing without that folder, kFailed when the lock
  // folder cannot be made safe.
  FileStatus Acquire(int folderFd, const std::string& name);
  // The same for the file at path.
  FileStatus Acquire(const std::string& path);
  void Release();

 private:
  int fd = -1;
  std::string name;  // in the lock folder
};

// Whether name in the open folder folderFd is still the file fd has open,
// not one put in its place since (a link there is not followed).
bool StillNamed(int folderFd, int fd, const std::string& name);

// The folder part of path ("." or "/" where that is all of it) and its name.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);

}  // namespace pelko
