// How the registry store turns key paths into folders, and folders back into
// the names the keys were first spelled with.
#include "agent/platform/posix/registry_store/key_names.h"

#include <cstddef>

#include "agent/platform/posix/registry_store/reg_text.h"
#include "agent/platform/posix/registry_store/store_file.h"
#include "agent/util/coding.h"

namespace pelko::key_names {

namespace {

using reg_text::AppendPercent;
using reg_text::HeaderKeyPath;
using reg_text::LastPart;
using reg_text::SameName;
using store_file::kValuesFile;
using store_file::ReadWholeFile;

constexpr size_t kMaxKeyNameBytes = 255;  // a file name's limit

}  // namespace

// A key's directory name: lower case, so that every spelling of the name
// finds it. The escapes keep it a single, visible file name; the reserved
// names (Values.reg, ...) hold capitals and so never clash with it.
std::string DirName(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '%' || c == '/' || c < 0x20 || c == 0x7f || (i == 0 && c == '.')) {
      AppendPercent(&out, c);
    } else {
      out += AsciiLower(static_cast<char>(c));
    }
  }
  return out;
}

// Empty parts are skipped, so "Software\\Pelko\" is "Software\Pelko".
bool SplitKeyPath(const std::string& subKey, std::vector<std::string>* parts) {
  parts->clear();
  size_t start = 0;
  while (start <= subKey.size()) {
    size_t end = subKey.find('\\', start);
    if (end == std::string::npos) end = subKey.size();
    if (end > start) {
      parts->push_back(subKey.substr(start, end - start));
      if (DirName(parts->back()).size() > kMaxKeyNameBytes) return false;
    }
    start = end + 1;
  }
  return true;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& part : parts) path += "\\" + part;
  return path;
}

std::string RootName(RootKey root) {
  return root == RootKey::kCurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string SpelledName(const std::string& dir, const std::string& fallback) {
  std::string text;
  std::string untrusted;
  if (ReadWholeFile(dir + "/" + kValuesFile, &text, nullptr, &untrusted) != 0) return fallback;
  const std::string name = LastPart(HeaderKeyPath(text));
  return SameName(name, fallback) ? name : fallback;
}

}  // namespace pelko::key_names
