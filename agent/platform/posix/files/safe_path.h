// Whether anyone but root and this process's own user can change a file or
// folder, and so decide what the agent (root) reads or runs.
//
// A path is safe when the entry and its folder are owned by root or by this
// process's user and writable by no one else (no group or other write bit),
// and so is every folder above them, except that a folder above them may be
// writable by others when it has the sticky bit (/tmp): no one else can
// rename or remove a root-owned entry in it. The entry's own folder is held
// to the strict rule because in a sticky folder others could still put a
// file of theirs (or a hard link to any of root's) where one is missing;
// for a folder that the caller only ever looks into, strictLevels 1 lets
// its own folder be sticky. Symbolic links are resolved
// first; the resolved path is the one to use, since once it passes no one
// else can change what it names.
#pragma once

#include <sys/stat.h>

#include <string>

namespace pelko {

enum class PathSafety {
  kSafe,
  kUnsafe,  // someone else could change it
  kError,   // could not be looked at (missing, no access): errno tells
};

// resolved gets the path with every link resolved; why says what is wrong
// when the result is not kSafe.
PathSafety CheckPathSafety(const std::string& path, std::string* resolved, std::string* why,
                           int strictLevels = 2);

// The test for one entry that CheckPathSafety applies along the path;
// stickyExcused is for folders above the entry's own folder.
bool OwnedSafely(const struct stat& st, bool stickyExcused, std::string* why);

}  // namespace pelko
