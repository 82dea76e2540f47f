// The text of a key's Values.reg, in the layout of a .reg export: one header
// line naming the key, then one value a line. A pure codec: it reads and
// writes strings only, and reads damaged or hand-edited text as far as it
// makes sense, line by line. Also the name rules every key and value obeys:
// ASCII letters without regard to case, percent escapes for odd bytes.
#pragma once

#include <string>
#include <vector>

#include "agent/platform/posix/registry_store/store_types.h"

namespace pelko::reg_text {

struct KeyFile {
  bool hasHeader = false;
  std::string keyPath;  // "HKEY_LOCAL_MACHINE\Software\Pelko"
  std::vector<RegistryEntry> values;
};

void ParseKeyFile(const std::string& text, KeyFile* file);
std::string FormatKeyFile(const KeyFile& file);
// The key path of a file's header line, without reading its values.
std::string HeaderKeyPath(const std::string& text);
// The last part of a key path: the key's own name.
std::string LastPart(const std::string& keyPath);
// Like a .reg import, a later value of the same name wins; the name keeps
// its first spelling and place.
void PutValue(std::vector<RegistryEntry>* values, RegistryEntry entry);

// Names compare without regard to the case of ASCII letters.
bool SameName(const std::string& a, const std::string& b);
// "%XX" for the byte c.
void AppendPercent(std::string* out, unsigned char c);
std::string PercentDecode(const std::string& text);

}  // namespace pelko::reg_text
