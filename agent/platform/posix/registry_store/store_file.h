// The registry store's files on disk: a key's Values.reg read and replaced
// whole, folders made private to their owner, and places someone else could
// change refused.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "agent/platform/posix/registry_store/store_types.h"

namespace pelko::store_file {

inline constexpr char kValuesFile[] = "Values.reg";
// ReadWholeFile's answer for a file someone else could have written.
inline constexpr int kUntrusted = -1;

// The registry status for a failed call's errno.
int32_t StatusFromErrno(int error);

bool IsDirectory(const std::string& path);
// True when it made the folder; errno tells otherwise.
bool MakeDir(const std::string& path);
// The folder and every folder above it that is missing.
int32_t MakeDirs(const std::string& path);

// Settings decide what root runs, so they are taken only from where no one
// else can change them (safe_path.h). On refusal *untrusted says why.
int32_t CheckTrusted(const std::string& path, std::string* untrusted, int strictLevels = 2);

// 0, the errno of the failure, or kUntrusted with *untrusted saying why.
// mode, when given, gets the file's mode.
int ReadWholeFile(const std::string& path, std::string* text, mode_t* mode, std::string* untrusted);

// Makes text the content of dir's Values.reg; keepMode, when given, is the
// mode of the file it replaces.
int32_t ReplaceFile(const std::string& dir, const std::string& text, const mode_t* keepMode);

}  // namespace pelko::store_file
