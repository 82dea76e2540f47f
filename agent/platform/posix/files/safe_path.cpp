#include "agent/platform/posix/files/safe_path.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace pelko {

bool OwnedSafely(const struct stat& st, bool stickyExcused, std::string* why) {
  if (st.st_uid != 0 && st.st_uid != geteuid()) {
    *why = "is owned by uid " + std::to_string(st.st_uid);
    return false;
  }
  if (stickyExcused && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) return true;
  if (st.st_mode & S_IWOTH) {
    *why = "can be written by every user";
    return false;
  }
  if (st.st_mode & S_IWGRP) {
    *why = "can be written by group " + std::to_string(st.st_gid);
    return false;
  }
  return true;
}

PathSafety CheckPathSafety(const std::string& path, std::string* resolved, std::string* why,
                           int strictLevels) {
  char* real = path.empty() ? nullptr : realpath(path.c_str(), nullptr);
  if (real == nullptr) {
    const int error = path.empty() ? ENOENT : errno;
    *why = path + ": " + std::strerror(error);
    errno = error;
    return PathSafety::kError;
  }
  *resolved = real;
  std::free(real);
  // The entry itself, then each folder up to the root.
  std::string at = *resolved;
  for (int depth = 0;; ++depth) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0) {
      const int error = errno;
      *why = at + ": " + std::strerror(error);
      errno = error;
      return PathSafety::kError;
    }
    std::string problem;
    if (!OwnedSafely(st, depth >= strictLevels, &problem)) {
      *why = at + " " + problem;
      return PathSafety::kUnsafe;
    }
    if (at == "/") return PathSafety::kSafe;
    const std::size_t slash = at.rfind('/');
    at = slash == 0 ? "/" : at.substr(0, slash);
  }
}

}  // namespace pelko
