// A key's names in the registry store: the folder a key path lives in, and
// the spelling a key is shown by.
#pragma once

#include <string>
#include <vector>

#include "agent/platform/registry.h"

namespace pelko::key_names {

// A key's directory name: lower case, with odd bytes escaped.
std::string DirName(const std::string& name);
// The parts of a key path; false when one is too long for a directory name.
bool SplitKeyPath(const std::string& subKey, std::vector<std::string>* parts);
// "\a\b" for the parts a and b.
std::string Joined(const std::vector<std::string>& parts);
// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
std::string RootName(RootKey root);
// The key's name as first spelled, from the Values.reg in its folder dir;
// fallback when the file does not tell.
std::string SpelledName(const std::string& dir, const std::string& fallback);

}  // namespace pelko::key_names
