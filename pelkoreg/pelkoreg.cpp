// pelkoreg: reg.exe's add, query and delete on the registry store named by
// PELKO_REGISTRY, so that administrators' habits and scripts carry over.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/platform/posix/registry_store/registry_store.h"
#include "agent/util/coding.h"

namespace pelko {
namespace {

constexpr char kDefaultFolder[] = "/var/lib/pelko/registry";
constexpr char kSuccess[] = "The operation completed successfully.";
constexpr char kNotFound[] = "The system was unable to find the specified registry key or value.";
constexpr int kMaxDepth = 512;  // as deep as Win32 nests keys

constexpr char kUsage[] =
    "PELKOREG Operation [Parameter List]\n"
    "\n"
    "  Operation  [ ADD | QUERY | DELETE ]\n"
    "\n"
    "Works on the registry store in the folder named by PELKO_REGISTRY\n"
    "(default /var/lib/pelko/registry). Return code: 0 on success, 1 on failure.\n"
    "PELKOREG /? (or --help) shows this usage; PELKOREG --version the version.\n"
    "\n"
    "PELKOREG ADD KeyName [{/v ValueName | /ve}] [/t Type] [/s Separator] [/d Data] [/f]\n"
    "  /v   the value to add       /ve  the key's unnamed (Default) value\n"
    "  /t   REG_SZ (default) | REG_MULTI_SZ | REG_EXPAND_SZ | REG_DWORD |\n"
    "       REG_QWORD | REG_BINARY | REG_NONE\n"
    "  /s   separator of the strings of a REG_MULTI_SZ (one character; default \\0)\n"
    "  /d   the data: decimal or 0x hex for REG_DWORD and REG_QWORD, hex digits\n"
    "       for REG_BINARY and REG_NONE\n"
    "  /f   overwrite an existing value without asking\n"
    "  Without /v, /ve, /t and /d only the key is created.\n"
    "\n"
    "PELKOREG QUERY KeyName [/v ValueName | /ve] [/s]\n"
    "  /s   the key and all its subkeys; with /v, search them for the value\n"
    "\n"
    "PELKOREG DELETE KeyName [/v ValueName | /ve | /va] [/f]\n"
    "  /va  all values of the key     /f  delete without asking\n"
    "  Without /v, /ve or /va the key is deleted with all its subkeys.\n"
    "\n"
    "KeyName: ROOT\\SubKey, ROOT one of HKLM, HKEY_LOCAL_MACHINE, HKCU,\n"
    "HKEY_CURRENT_USER.\n"
    "\n"
    "Examples:\n"
    "  pelkoreg add \"HKLM\\Software\\Pelko\" /v nPrinters /t REG_DWORD /d 3 /f\n"
    "  pelkoreg query \"HKLM\\Software\\Pelko\"\n"
    "  pelkoreg delete \"HKLM\\Software\\Pelko\" /v Printer1 /f\n";

// A failure to report: "ERROR: " and the message on standard error, status 1.
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message, bool syntax = false)
      : std::runtime_error(message), syntaxError(syntax) {}
  bool syntax() const { return syntaxError; }

 private:
  bool syntaxError;
};

[[noreturn]] void Syntax(const std::string& message) { throw ToolError(message, true); }

struct Options {
  std::string operation;
  std::string keyName;
  bool hasName = false;  // /v
  std::string name;
  bool unnamed = false;    // /ve
  bool allValues = false;  // /va
  bool hasType = false;
  std::string type;
  bool hasData = false;
  std::string data;
  bool hasSeparator = false;
  std::string separator;
  bool force = false;
  bool recurse = false;  // /s of query
  bool help = false;
};

bool IsSwitch(const std::string& arg, const char* name) {
  return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') && AsciiEqualFold(arg.substr(1), name);
}

Options ParseArguments(const std::vector<std::string>& args) {
  Options options;
  if (args.empty()) Syntax("Invalid syntax: no operation given.");
  if (IsSwitch(args[0], "?") || IsSwitch(args[0], "h") || IsSwitch(args[0], "help") ||
      IsSwitch(args[0], "-help")) {
    options.help = true;
    return options;
  }
  if (args.size() == 1 && IsSwitch(args[0], "-version")) {
    options.operation = "version";
    return options;
  }
  options.operation = args[0];
  options.operation = AsciiLowered(options.operation);
  if (options.operation != "add" && options.operation != "query" && options.operation != "delete") {
    Syntax("Invalid syntax: unknown operation '" + args[0] + "'.");
  }
  const bool add = options.operation == "add";
  const bool query = options.operation == "query";
  size_t i = 1;
  if (i < args.size() && IsSwitch(args[i], "?")) {
    options.help = true;
    return options;
  }
  if (i >= args.size()) Syntax("Invalid syntax: no key name given.");
  options.keyName = args[i++];
  auto take = [&](bool* seen, std::string* value, const std::string& flag) {
    if (*seen) Syntax("Invalid syntax: " + flag + " is given twice.");
    if (i >= args.size()) Syntax("Invalid syntax: " + flag + " needs a value.");
    *seen = true;
    *value = args[i++];
  };
  auto once = [&](bool* seen, const std::string& flag) {
    if (*seen) Syntax("Invalid syntax: " + flag + " is given twice.");
    *seen = true;
  };
  while (i < args.size()) {
    const std::string arg = args[i++];
    if (IsSwitch(arg, "v")) {
      take(&options.hasName, &options.name, arg);
    } else if (IsSwitch(arg, "ve")) {
      once(&options.unnamed, arg);
    } else if (IsSwitch(arg, "va") && options.operation == "delete") {
      once(&options.allValues, arg);
    } else if (IsSwitch(arg, "t") && add) {
      take(&options.hasType, &options.type, arg);
    } else if (IsSwitch(arg, "d") && add) {
      take(&options.hasData, &options.data, arg);
    } else if (IsSwitch(arg, "s") && add) {
      take(&options.hasSeparator, &options.separator, arg);
    } else if (IsSwitch(arg, "s") && query) {
      once(&options.recurse, arg);
    } else if (IsSwitch(arg, "f") && !query) {
      once(&options.force, arg);
    } else if (IsSwitch(arg, "reg:32") || IsSwitch(arg, "reg:64")) {
      // One registry view only here; accepted so that scripts carry over.
    } else if (IsSwitch(arg, "?")) {
      options.help = true;
    } else {
      Syntax("Invalid syntax: unexpected argument '" + arg + "' for " + options.operation + ".");
    }
  }
  if (options.hasName + options.unnamed + options.allValues > 1) {
    Syntax("Invalid syntax: give only one of /v, /ve and /va.");
  }
  if (options.hasSeparator && options.separator.size() != 1) {
    Syntax("Invalid syntax: the separator of /s must be a single character.");
  }
  return options;
}

struct KeyPath {
  RootKey root = RootKey::kLocalMachine;
  std::string subKey;
};

KeyPath ParseKeyName(const std::string& text) {
  if (text.rfind("\\\\", 0) == 0) {
    throw ToolError("Invalid key name '" + text + "': remote machines are not supported.");
  }
  const size_t slash = text.find('\\');
  const std::string root = text.substr(0, slash);
  KeyPath key;
  if (AsciiEqualFold(root, "HKLM") || AsciiEqualFold(root, "HKEY_LOCAL_MACHINE")) {
    key.root = RootKey::kLocalMachine;
  } else if (AsciiEqualFold(root, "HKCU") || AsciiEqualFold(root, "HKEY_CURRENT_USER")) {
    key.root = RootKey::kCurrentUser;
  } else {
    throw ToolError("Invalid key name '" + text +
                    "': it must begin with HKLM, HKEY_LOCAL_MACHINE, HKCU or "
                    "HKEY_CURRENT_USER.");
  }
  if (slash != std::string::npos) key.subKey = text.substr(slash + 1);
  return key;
}

// Why the store last refused a place someone else could change; empty if
// it did not.
std::string untrustedBecause;

std::string StatusMessage(int32_t status, const FileRegistryStore& store) {
  switch (status) {
    case kErrorFileNotFound:
    case kErrorKeyDeleted:
      return kNotFound;
    case kErrorAccessDenied:
      if (!untrustedBecause.empty()) {
        return "The registry store in " + store.folder() + " is not used: " + untrustedBecause +
               ". Only root (or the store's owner) may be able to write the store and the "
               "folders above it.";
      }
      return "Access is denied to the registry store in " + store.folder() + ".";
    case kErrorInvalidParameter:
      return "Invalid key or value name.";
    case kErrorTimeout:
      return "The registry store in " + store.folder() +
             " stays locked by another program; try again.";
    default:
      return "The registry store in " + store.folder() + " failed (error " +
             std::to_string(status) + ").";
  }
}

void Check(int32_t status, const FileRegistryStore& store) {
  if (status != kErrorSuccess) throw ToolError(StatusMessage(status, store));
}

// Closes the key when the command ends, whichever way.
class OpenedKey {
 public:
  OpenedKey(FileRegistryStore& store, RootKey root, const std::string& subKey, bool create)
      : store(store) {
    const uint32_t access = kKeyRead | kKeyWrite;
    Check(create ? store.CreateKey(root, subKey, access, &key)
                 : store.OpenKey(root, subKey, access, &key),
          store);
  }
  ~OpenedKey() {
    if (key) store.CloseKey(key);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  RegKey get() const { return key; }
  std::string Name() const {
    std::string name;
    Check(store.KeyName(key, &name), store);
    return name;
  }

 private:
  FileRegistryStore& store;
  RegKey key = nullptr;
};

// ---- Data given on the command line ----

struct TypeName {
  const char* name;
  uint32_t type;
};

constexpr TypeName kAddTypes[] = {
    {"REG_SZ", kRegSz},       {"REG_MULTI_SZ", kRegMultiSz}, {"REG_EXPAND_SZ", kRegExpandSz},
    {"REG_DWORD", kRegDword}, {"REG_QWORD", kRegQword},      {"REG_BINARY", kRegBinary},
    {"REG_NONE", kRegNone},
};

uint32_t ParseType(const std::string& text) {
  for (const TypeName& known : kAddTypes) {
    if (AsciiEqualFold(text, known.name)) return known.type;
  }
  throw ToolError("Unknown value type '" + text +
                  "'. Use REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD, "
                  "REG_BINARY or REG_NONE.");
}

// Decimal, or hex after 0x; nothing else, not even blanks or a sign.
uint64_t ParseNumber(const std::string& text, uint64_t max, const char* typeName) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const size_t start = hex ? 2 : 0;
  const uint64_t base = hex ? 16 : 10;
  uint64_t number = 0;
  bool ok = start < text.size();
  for (size_t i = start; ok && i < text.size(); ++i) {
    const int digit =
        hex ? HexDigitValue(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0 || number > (max - static_cast<uint64_t>(digit)) / base) {
      ok = false;
    } else {
      number = number * base + static_cast<uint64_t>(digit);
    }
  }
  if (!ok) {
    throw ToolError("Invalid " + std::string(typeName) + " data '" + text +
                    "': give a decimal number or 0x and hex digits, at most " +
                    std::to_string(max) + ".");
  }
  return number;
}

std::string ParseHex(const std::string& text, const char* typeName) {
  std::string out;
  bool ok = text.size() % 2 == 0;
  for (size_t i = 0; ok && i < text.size(); i += 2) {
    const int high = HexDigitValue(text[i]);
    const int low = HexDigitValue(text[i + 1]);
    ok = high >= 0 && low >= 0;
    out += static_cast<char>(high << 4 | low);
  }
  if (!ok) {
    throw ToolError("Invalid " + std::string(typeName) + " data '" + text +
                    "': give an even number of hex digits, two for each byte.");
  }
  return out;
}

std::string MultiString(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  if (!parts.empty() && parts.back().empty()) parts.pop_back();  // a closing separator
  std::string data;
  for (const std::string& part : parts) {
    if (part.empty()) {
      throw ToolError("Invalid REG_MULTI_SZ data '" + text +
                      "': its strings cannot be empty (two separators in a row).");
    }
    data += part;
    data += '\0';
  }
  data += '\0';
  if (parts.empty()) data += '\0';  // no strings: the two terminating zeros
  return data;
}

std::string DataFor(uint32_t type, const Options& options) {
  const std::string& text = options.data;
  switch (type) {
    case kRegDword:
      return EncodeLittleEndian(options.hasData ? ParseNumber(text, 0xffffffffu, "REG_DWORD") : 0,
                                4);
    case kRegQword:
      return EncodeLittleEndian(options.hasData ? ParseNumber(text, ~0ull, "REG_QWORD") : 0, 8);
    case kRegBinary:
      return ParseHex(text, "REG_BINARY");
    case kRegNone:
      return ParseHex(text, "REG_NONE");
    case kRegMultiSz:
      return MultiString(text, options.hasSeparator ? options.separator : "\\0");
    default:
      return text + '\0';
  }
}

// ---- Output laid out as reg query lays it out ----

std::string HexDisplay(const std::string& data) {
  std::string out;
  for (const char c : data) AppendHexByte(&out, static_cast<unsigned char>(c), kHexUpper);
  return out;
}

std::string DataDisplay(const RegistryEntry& entry) {
  const std::string& data = entry.data;
  char number[32];
  if ((entry.type == kRegDword && data.size() == 4) ||
      (entry.type == kRegQword && data.size() == 8)) {
    const unsigned long long value = DecodeLittleEndian(data);
    std::snprintf(number, sizeof number, "0x%llx", value);
    return number;
  }
  if (entry.type == kRegSz || entry.type == kRegExpandSz) {
    return data.substr(0, data.find('\0'));
  }
  if (entry.type == kRegMultiSz) {
    std::string out;
    size_t start = 0;
    while (start < data.size() && data[start] != '\0') {
      size_t end = data.find('\0', start);
      if (end == std::string::npos) end = data.size();
      if (!out.empty()) out += "\\0";
      out += data.substr(start, end - start);
      start = end + 1;
    }
    return out;
  }
  return HexDisplay(data);
}

void PrintValue(const RegistryEntry& entry) {
  std::cout << "    " << (entry.name.empty() ? "(Default)" : entry.name) << "    "
            << RegTypeName(entry.type) << "    " << DataDisplay(entry) << "\n";
}

const RegistryEntry* FindValue(const std::vector<RegistryEntry>& values, const std::string& name) {
  for (const RegistryEntry& entry : values) {
    if (AsciiEqualFold(entry.name, name)) return &entry;
  }
  return nullptr;
}

std::string ChildPath(const std::string& subKey, const std::string& child) {
  return subKey.empty() ? child : subKey + "\\" + child;
}

// Every key from this one down, in the order reg query /s shows them.
template <typename Visit>
void Walk(FileRegistryStore& store, RootKey root, const std::string& subKey, int depth,
          Visit& visit) {
  OpenedKey key(store, root, subKey, false);
  visit(key);
  if (depth >= kMaxDepth) return;
  std::vector<std::string> children;
  Check(store.EnumSubKeys(key.get(), &children), store);
  for (const std::string& child : children) {
    try {
      Walk(store, root, ChildPath(subKey, child), depth + 1, visit);
    } catch (const ToolError&) {
      // Deleted by someone else while we walked: it is simply not listed.
    }
  }
}

// ---- The operations ----

// On a terminal asks like reg.exe; without one nobody can answer, so the
// command is refused rather than done unasked.
bool Confirm(const std::string& question, const std::string& refusal) {
  if (!isatty(STDIN_FILENO)) throw ToolError(refusal + " Add /f to go ahead without asking.");
  for (;;) {
    std::cout << question << " " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    if (AsciiEqualFold(answer, "y") || AsciiEqualFold(answer, "yes")) return true;
    if (AsciiEqualFold(answer, "n") || AsciiEqualFold(answer, "no")) return false;
  }
}

std::string ValueLabel(const std::string& name) { return name.empty() ? "(Default)" : name; }

int Cancelled() {
  std::cout << "The operation was canceled by the user.\n";
  return 1;
}

int Add(FileRegistryStore& store, const Options& options) {
  const KeyPath path = ParseKeyName(options.keyName);
  const bool setsValue = options.hasName || options.unnamed || options.hasType || options.hasData;
  const uint32_t type = options.hasType ? ParseType(options.type) : kRegSz;
  if (options.hasSeparator && type != kRegMultiSz) {
    Syntax("Invalid syntax: /s is for REG_MULTI_SZ data only.");
  }
  const std::string data = setsValue ? DataFor(type, options) : std::string();
  OpenedKey key(store, path.root, path.subKey, true);
  if (setsValue) {
    const std::string& name = options.name;  // empty for /ve and for no /v
    uint32_t size = 0;
    if (store.QueryValue(key.get(), name, nullptr, nullptr, &size) == kErrorSuccess &&
        !options.force &&
        !Confirm("Value " + ValueLabel(name) + " exists, overwrite(Yes/No)?",
                 "Value " + ValueLabel(name) + " exists and was not overwritten.")) {
      return Cancelled();
    }
    Check(store.SetValue(key.get(), name, type, reinterpret_cast<const uint8_t*>(data.data()),
                         static_cast<uint32_t>(data.size())),
          store);
  }
  std::cout << kSuccess << "\n";
  return 0;
}

int Query(FileRegistryStore& store, const Options& options) {
  const KeyPath path = ParseKeyName(options.keyName);
  const bool oneValue = options.hasName || options.unnamed;
  const std::string& name = options.name;
  if (oneValue && options.recurse) {
    int matches = 0;
    auto visit = [&](const OpenedKey& key) {
      std::vector<RegistryEntry> values;
      Check(store.EnumValues(key.get(), &values), store);
      if (const RegistryEntry* entry = FindValue(values, name)) {
        ++matches;
        std::cout << (matches == 1 ? "\n" : "") << key.Name() << "\n";
        PrintValue(*entry);
        std::cout << "\n";
      }
    };
    Walk(store, path.root, path.subKey, 0, visit);
    if (matches == 0) throw ToolError(kNotFound);
    std::cout << "End of search: " << matches << " match(es) found.\n";
    return 0;
  }
  OpenedKey key(store, path.root, path.subKey, false);
  std::vector<RegistryEntry> values;
  Check(store.EnumValues(key.get(), &values), store);
  if (oneValue) {
    const RegistryEntry* entry = FindValue(values, name);
    if (!entry) throw ToolError(kNotFound);
    std::cout << "\n" << key.Name() << "\n";
    PrintValue(*entry);
    std::cout << "\n";
    return 0;
  }
  if (options.recurse) {
    std::cout << "\n";
    auto visit = [&](const OpenedKey& each) {
      std::vector<RegistryEntry> own;
      Check(store.EnumValues(each.get(), &own), store);
      std::cout << each.Name() << "\n";
      for (const RegistryEntry& entry : own) PrintValue(entry);
      std::cout << "\n";
    };
    Walk(store, path.root, path.subKey, 0, visit);
    return 0;
  }
  const std::string keyName = key.Name();
  std::vector<std::string> children;
  Check(store.EnumSubKeys(key.get(), &children), store);
  std::cout << "\n" << keyName << "\n";
  for (const RegistryEntry& entry : values) PrintValue(entry);
  std::cout << "\n";
  for (const std::string& child : children) std::cout << keyName << "\\" << child << "\n";
  return 0;
}

int Delete(FileRegistryStore& store, const Options& options) {
  const KeyPath path = ParseKeyName(options.keyName);
  OpenedKey key(store, path.root, path.subKey, false);
  if (options.hasName || options.unnamed) {
    const std::string& name = options.name;
    uint32_t size = 0;
    Check(store.QueryValue(key.get(), name, nullptr, nullptr, &size), store);
    if (!options.force &&
        !Confirm("Delete the registry value " + ValueLabel(name) + " (Yes/No)?",
                 "The registry value " + ValueLabel(name) + " was not deleted.")) {
      return Cancelled();
    }
    Check(store.DeleteValue(key.get(), name), store);
  } else if (options.allValues) {
    if (!options.force &&
        !Confirm("Delete all values under the registry key " + key.Name() + " (Yes/No)?",
                 "The values of " + key.Name() + " were not deleted.")) {
      return Cancelled();
    }
    std::vector<RegistryEntry> values;
    Check(store.EnumValues(key.get(), &values), store);
    for (const RegistryEntry& entry : values) {
      const int32_t status = store.DeleteValue(key.get(), entry.name);
      if (status != kErrorFileNotFound) Check(status, store);  // gone already is fine
    }
  } else {
    if (path.subKey.find_first_not_of('\\') == std::string::npos) {
      throw ToolError("Invalid key name '" + options.keyName + "': a root key cannot be deleted.");
    }
    if (!options.force &&
        !Confirm("Permanently delete the registry key " + key.Name() + " (Yes/No)?",
                 "The registry key " + key.Name() + " was not deleted.")) {
      return Cancelled();
    }
    Check(store.DeleteKey(path.root, path.subKey), store);
  }
  std::cout << kSuccess << "\n";
  return 0;
}

int Run(const std::vector<std::string>& args) {
  const Options options = ParseArguments(args);
  if (options.help) {
    std::cout << kUsage;
    return 0;
  }
  if (options.operation == "version") {
    std::cout << "pelkoreg " PELKO_VERSION "\n";
    return 0;
  }
  const char* folder = std::getenv("PELKO_REGISTRY");
  FileRegistryStore store(folder && *folder ? folder : kDefaultFolder,
                          [](const std::string& why) { untrustedBecause = why; });
  if (options.operation == "add") return Add(store, options);
  if (options.operation == "query") return Query(store, options);
  return Delete(store, options);
}

}  // namespace
}  // namespace pelko

int main(int argc, char** argv) {
  // The store is made with modes of its own; this is for anything else.
  umask(022);
  try {
    return pelko::Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const pelko::ToolError& error) {
    std::cout.flush();
    std::cerr << "ERROR: " << error.what() << "\n";
    if (error.syntax()) std::cerr << "Type \"pelkoreg /?\" for usage.\n";
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << "ERROR: " << error.what() << "\n";
  }
  return 1;
}
