#include "agent/platform/posix/registry_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "agent/platform/clock.h"
#include "agent/platform/logger.h"
#include "agent/platform/posix/safe_path.h"

namespace pelko {

namespace {

constexpr uint32_t kHandleMagic = 0x59454b50;  // "PKEY"
constexpr char kValuesFile[] = "Values.reg";
// Only the lock holder writes it, so one name per key is enough.
constexpr char kTempFile[] = "Values.reg.new";
constexpr char kLockFile[] = "registry.lock";
constexpr off_t kMaxFileSize = 64 << 20;
// Whatever the umask of whoever makes them: only the owner may write the
// store, only the owner may read the values (the mail password is one), and
// only the owner may open the lock, since whoever can open it can hold it
// and so stop every change.
constexpr mode_t kDirMode = 0755;
constexpr mode_t kFileMode = 0600;
constexpr mode_t kLockMode = 0600;
// ReadWholeFile's answer for a file someone else could have written.
constexpr int kUntrusted = -1;
// A writer holds the lock for one file rewrite; a wait longer than this
// means a stuck process, and the caller gets an error instead of a hang.
constexpr auto kLockWait = std::chrono::seconds(5);
constexpr size_t kMaxKeyNameBytes = 255;  // a file name's limit

constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kMaximumAllowed = 0x02000000;
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericRead = 0x80000000;

bool Allows(uint32_t access, uint32_t right) {
  if (access & (kGenericAll | kMaximumAllowed)) return true;
  if ((access & kGenericRead) && right != kKeySetValue) return true;
  if ((access & kGenericWrite) && right == kKeySetValue) return true;
  return (access & right) == right;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = Lower(c);
  return out;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

int32_t StatusFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kErrorAccessDenied;
    case ENAMETOOLONG: return kErrorInvalidParameter;
    default: return kErrorRegistryIoFailed;
  }
}

const char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendPercent(std::string* out, unsigned char c) {
  static const char kUpper[] = "0123456789ABCDEF";
  *out += '%';
  *out += kUpper[c >> 4];
  *out += kUpper[c & 15];
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) << 4 | HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

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
      out += Lower(static_cast<char>(c));
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
  return root == RootKey::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// True when it made the folder; errno tells otherwise.
bool MakeDir(const std::string& path) {
  if (mkdir(path.c_str(), kDirMode) != 0) return false;
  chmod(path.c_str(), kDirMode);  // a umask of 077 would hide it from readers
  return true;
}

int32_t MakeDirs(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos < path.size() && path[pos] != '/') continue;
    if (!MakeDir(path.substr(0, pos)) && errno != EEXIST) return StatusFromErrno(errno);
  }
  return IsDirectory(path) ? kErrorSuccess : kErrorRegistryIoFailed;
}

// Settings decide what root runs, so they are taken only from where no one
// else can change them (safe_path.h). On refusal *untrusted says why.
int32_t CheckTrusted(const std::string& path, std::string* untrusted, int strictLevels = 2) {
  std::string resolved;
  std::string why;
  switch (CheckPathSafety(path, &resolved, &why, strictLevels)) {
    case PathSafety::kSafe: return kErrorSuccess;
    case PathSafety::kError: return StatusFromErrno(errno);
    case PathSafety::kUnsafe: break;
  }
  *untrusted = why;
  return kErrorAccessDenied;
}

// 0, the errno of the failure, or kUntrusted with *untrusted saying why.
int ReadWholeFile(const std::string& path, std::string* text, mode_t* mode,
                  std::string* untrusted) {
  std::string resolved;
  std::string why;
  switch (CheckPathSafety(path, &resolved, &why)) {
    case PathSafety::kSafe: break;
    case PathSafety::kError: return errno;
    case PathSafety::kUnsafe: *untrusted = why; return kUntrusted;
  }
  const int fd = open(resolved.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    close(fd);
    return EINVAL;
  }
  std::string problem;
  if (!OwnedSafely(st, false, &problem)) {  // changed since the path was looked at
    close(fd);
    *untrusted = resolved + " " + problem;
    return kUntrusted;
  }
  if (mode) *mode = st.st_mode;
  text->clear();
  text->reserve(static_cast<size_t>(st.st_size));
  char buffer[8192];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      close(fd);
      return error;
    }
    if (got == 0) break;
    text->append(buffer, static_cast<size_t>(got));
    if (text->size() > static_cast<size_t>(kMaxFileSize)) {
      close(fd);
      return EINVAL;
    }
  }
  close(fd);
  return 0;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

// The new content is on disk before the rename makes it visible, so a
// reader, or the file after a crash, has either the old or the new content.
int32_t ReplaceFile(const std::string& dir, const std::string& text, const mode_t* keepMode) {
  const std::string temp = dir + "/" + kTempFile;
  unlink(temp.c_str());  // left by a writer that died
  const int fd =
      open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0) return StatusFromErrno(errno);
  // Never more than the owner's: a file an older version left readable to
  // all is made private at its next rewrite.
  fchmod(fd, keepMode ? *keepMode & 0700 : kFileMode);
  const bool written = WriteAll(fd, text) && fdatasync(fd) == 0;
  const int error = written ? 0 : errno;
  if (close(fd) != 0 || !written) {
    unlink(temp.c_str());
    return error ? StatusFromErrno(error) : kErrorRegistryIoFailed;
  }
  if (rename(temp.c_str(), (dir + "/" + kValuesFile).c_str()) != 0) {
    const int32_t status = StatusFromErrno(errno);
    unlink(temp.c_str());
    return status;
  }
  return kErrorSuccess;
}

// Takes the flock on fd, waiting at most kLockWait. The wait is a blocking
// flock, because the kernel hands a released lock to a waiter that is
// already queued, where a poller asleep keeps losing it to a writer that
// writes in a loop. It runs on a helper thread so that the caller's wait
// stays bounded; a helper left behind releases the lock as soon as it gets
// it. Without contention no thread is started.
int32_t LockWithin(int* fd) {
  if (flock(*fd, LOCK_EX | LOCK_NB) == 0) return kErrorSuccess;
  if (errno != EWOULDBLOCK && errno != EINTR) return StatusFromErrno(errno);
  struct Wait {
    std::mutex mutex;
    std::condition_variable done;
    bool locked = false;
    bool abandoned = false;
    int error = 0;
    int fd = -1;
  };
  auto wait = std::make_shared<Wait>();
  wait->fd = *fd;
  try {
    std::thread([wait] {
      int result;
      do {
        result = flock(wait->fd, LOCK_EX);
      } while (result != 0 && errno == EINTR);
      const int error = result == 0 ? 0 : errno;
      std::lock_guard<std::mutex> guard(wait->mutex);
      if (wait->abandoned) {
        close(wait->fd);
        return;
      }
      wait->error = error;
      wait->locked = true;
      wait->done.notify_one();
    }).detach();
  } catch (const std::system_error&) {
    return kErrorRegistryIoFailed;
  }
  std::unique_lock<std::mutex> guard(wait->mutex);
  if (!wait->done.wait_for(guard, kLockWait, [&wait] { return wait->locked; })) {
    wait->abandoned = true;
    *fd = -1;  // the helper closes it
    return kErrorTimeout;
  }
  return wait->error ? StatusFromErrno(wait->error) : kErrorSuccess;
}

// The writers' lock: a fresh open file description per use, so that it
// excludes threads of one process and forked children alike.
class StoreLock {
 public:
  ~StoreLock() {
    if (fd_ >= 0) close(fd_);  // releases the flock
  }

  // On refusal *untrusted says why.
  int32_t Acquire(const std::string& folder, std::string* untrusted) {
    int32_t status = MakeDirs(folder);
    // The store's folder may lie in a sticky one such as /tmp.
    if (status == kErrorSuccess) status = CheckTrusted(folder, untrusted, 1);
    if (status != kErrorSuccess) return status;
    const std::string path = folder + "/" + kLockFile;
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockMode);
    if (fd_ < 0 && errno != ELOOP) fd_ = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0 && errno == ELOOP) {
      *untrusted = path + " is a symbolic link";
      return kErrorAccessDenied;
    }
    if (fd_ < 0) return StatusFromErrno(errno);
    struct stat st;
    if (fstat(fd_, &st) != 0) return StatusFromErrno(errno);
    std::string problem = "is not a file";
    if (!S_ISREG(st.st_mode) || !OwnedSafely(st, false, &problem)) {
      *untrusted = path + " " + problem;
      return kErrorAccessDenied;
    }
    // One left readable by an older version is made the owner's alone.
    if ((st.st_mode & 077) != 0 && st.st_uid == geteuid()) fchmod(fd_, kLockMode);
    return LockWithin(&fd_);
  }

 private:
  int fd_ = -1;
};

// ---- The text of Values.reg ----

struct KeyFile {
  bool hasHeader = false;
  std::string keyPath;  // "HKEY_LOCAL_MACHINE\Software\Pelko"
  std::vector<RegistryEntry> values;
};

void AppendQuoted(std::string* out, const std::string& text) {
  *out += '"';
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\': *out += "\\\\"; break;
      case '"': *out += "\\\""; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      case 0: *out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          *out += "\\x";
          *out += kHexDigits[c >> 4];
          *out += kHexDigits[c & 15];
        } else {
          *out += ch;
        }
    }
  }
  *out += '"';
}

// Parses a quoted text at line[*pos] == '"' and moves *pos past it. An
// escape it does not know stays as written, as a hand-typed path would mean.
bool ParseQuoted(const std::string& line, size_t* pos, std::string* text) {
  if (*pos >= line.size() || line[*pos] != '"') return false;
  text->clear();
  for (size_t i = *pos + 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c != '\\' || i + 1 >= line.size()) {
      *text += c;
      continue;
    }
    const char e = line[++i];
    switch (e) {
      case '\\': *text += '\\'; break;
      case '"': *text += '"'; break;
      case 'n': *text += '\n'; break;
      case 'r': *text += '\r'; break;
      case 't': *text += '\t'; break;
      case '0': *text += '\0'; break;
      case 'x':
        if (i + 2 < line.size() && HexValue(line[i + 1]) >= 0 && HexValue(line[i + 2]) >= 0) {
          *text += static_cast<char>(HexValue(line[i + 1]) << 4 | HexValue(line[i + 2]));
          i += 2;
          break;
        }
        [[fallthrough]];
      default: *text += '\\'; *text += e;
    }
  }
  return false;
}

void SkipBlanks(const std::string& line, size_t* pos) {
  while (*pos < line.size() && (line[*pos] == ' ' || line[*pos] == '\t')) ++*pos;
}

bool StartsWithNoCase(const std::string& text, size_t pos, const char* prefix) {
  const size_t n = std::strlen(prefix);
  return text.size() - pos >= n && SameName(text.substr(pos, n), prefix);
}

bool ParseHexNumber(const std::string& text, size_t maxDigits, uint64_t* number) {
  if (text.empty() || text.size() > maxDigits) return false;
  *number = 0;
  for (const char c : text) {
    if (HexValue(c) < 0) return false;
    *number = *number << 4 | static_cast<uint64_t>(HexValue(c));
  }
  return true;
}

std::string LittleEndian(uint64_t number, size_t bytes) {
  std::string out;
  for (size_t i = 0; i < bytes; ++i) out += static_cast<char>(number >> (8 * i));
  return out;
}

uint64_t FromLittleEndian(const std::string& data) {
  uint64_t number = 0;
  for (size_t i = data.size(); i-- > 0;) {
    number = number << 8 | static_cast<unsigned char>(data[i]);
  }
  return number;
}

// "01,02,ff"; an empty list is no data.
bool ParseHexBytes(const std::string& text, std::string* data) {
  data->clear();
  size_t pos = 0;
  SkipBlanks(text, &pos);
  if (pos == text.size()) return true;
  for (;;) {
    SkipBlanks(text, &pos);
    size_t digits = 0;
    int byte = 0;
    while (pos < text.size() && HexValue(text[pos]) >= 0 && digits < 2) {
      byte = byte << 4 | HexValue(text[pos++]);
      ++digits;
    }
    if (digits == 0) return false;
    *data += static_cast<char>(byte);
    SkipBlanks(text, &pos);
    if (pos == text.size()) return true;
    if (text[pos++] != ',') return false;
  }
}

// The part after "Name"=, already without trailing blanks.
bool ParseData(const std::string& text, RegistryEntry* entry) {
  size_t pos = 0;
  std::string quoted;
  uint64_t number = 0;
  if (StartsWithNoCase(text, 0, "dword:")) {
    if (!ParseHexNumber(text.substr(6), 8, &number)) return false;
    entry->type = kRegDword;
    entry->data = LittleEndian(number, 4);
    return true;
  }
  if (StartsWithNoCase(text, 0, "qword:")) {
    if (!ParseHexNumber(text.substr(6), 16, &number)) return false;
    entry->type = kRegQword;
    entry->data = LittleEndian(number, 8);
    return true;
  }
  if (StartsWithNoCase(text, 0, "hex:")) {
    entry->type = kRegBinary;
    return ParseHexBytes(text.substr(4), &entry->data);
  }
  if (StartsWithNoCase(text, 0, "hex(")) {
    const size_t close = text.find("):");
    if (close == std::string::npos || !ParseHexNumber(text.substr(4, close - 4), 8, &number)) {
      return false;
    }
    entry->type = static_cast<uint32_t>(number);
    return ParseHexBytes(text.substr(close + 2), &entry->data);
  }
  if (StartsWithNoCase(text, 0, "multi:")) {
    pos = 6;
    entry->type = kRegMultiSz;
    entry->data.clear();
    SkipBlanks(text, &pos);
    if (pos == text.size()) {
      entry->data.assign(2, '\0');
      return true;
    }
    for (;;) {
      if (!ParseQuoted(text, &pos, &quoted)) return false;
      entry->data += quoted;
      entry->data += '\0';
      SkipBlanks(text, &pos);
      if (pos == text.size()) break;
      if (text[pos++] != ',') return false;
      SkipBlanks(text, &pos);
    }
    entry->data += '\0';
    return true;
  }
  uint32_t type = kRegSz;
  if (StartsWithNoCase(text, 0, "expand:")) {
    type = kRegExpandSz;
    pos = 7;
  }
  if (!ParseQuoted(text, &pos, &quoted) || pos != text.size()) return false;
  entry->type = type;
  entry->data = quoted;
  entry->data += '\0';
  return true;
}

bool ParseValueLine(const std::string& line, RegistryEntry* entry) {
  size_t pos = 0;
  if (line[0] == '@') {
    entry->name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, &pos, &entry->name)) {
    return false;
  }
  SkipBlanks(line, &pos);
  if (pos >= line.size() || line[pos] != '=') return false;
  ++pos;
  SkipBlanks(line, &pos);
  return ParseData(line.substr(pos), entry);
}

// Like a .reg import, a later line for the same name wins; the name keeps
// its first spelling and place.
void PutValue(std::vector<RegistryEntry>* values, RegistryEntry entry) {
  for (RegistryEntry& held : *values) {
    if (SameName(held.name, entry.name)) {
      held.type = entry.type;
      held.data = std::move(entry.data);
      return;
    }
  }
  values->push_back(std::move(entry));
}

// Calls visit(line) for every line with its blanks and CR trimmed, until
// visit returns false.
template <typename Visit>
void ForEachLine(const std::string& text, Visit visit) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t first = start;
    size_t last = end;
    while (first < last && (text[first] == ' ' || text[first] == '\t')) ++first;
    while (last > first &&
           (text[last - 1] == ' ' || text[last - 1] == '\t' || text[last - 1] == '\r')) {
      --last;
    }
    if (last > first && !visit(text.substr(first, last - first))) return;
    start = end + 1;
  }
}

bool ParseHeader(const std::string& line, std::string* keyPath) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  *keyPath = PercentDecode(line.substr(1, line.size() - 2));
  return true;
}

void ParseKeyFile(const std::string& text, KeyFile* file) {
  ForEachLine(text, [file](const std::string& line) {
    if (line[0] == ';' || line[0] == '#') return true;
    if (line[0] == '[') {
      if (!file->hasHeader) file->hasHeader = ParseHeader(line, &file->keyPath);
      return true;
    }
    RegistryEntry entry;
    if (ParseValueLine(line, &entry)) PutValue(&file->values, std::move(entry));
    return true;
  });
}

std::string HeaderKeyPath(const std::string& text) {
  std::string keyPath;
  ForEachLine(text, [&keyPath](const std::string& line) {
    if (line[0] == ';' || line[0] == '#') return true;
    ParseHeader(line, &keyPath);
    return false;
  });
  return keyPath;
}

std::string LastPart(const std::string& keyPath) {
  const size_t slash = keyPath.rfind('\\');
  return slash == std::string::npos ? keyPath : keyPath.substr(slash + 1);
}

bool IsCanonicalMultiSz(const std::string& data) {
  if (data.size() < 3 || data[0] == '\0' || data[data.size() - 1] != '\0' ||
      data[data.size() - 2] != '\0') {
    return false;
  }
  return data.substr(0, data.size() - 1).find(std::string(2, '\0')) == std::string::npos;
}

void AppendHexBytes(std::string* out, const std::string& data) {
  for (size_t i = 0; i < data.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    if (i > 0) *out += ',';
    *out += kHexDigits[c >> 4];
    *out += kHexDigits[c & 15];
  }
}

void AppendData(std::string* out, const RegistryEntry& entry) {
  const std::string& data = entry.data;
  const bool terminated = !data.empty() && data.back() == '\0';
  char number[32];
  if (entry.type == kRegSz && terminated) {
    AppendQuoted(out, data.substr(0, data.size() - 1));
  } else if (entry.type == kRegExpandSz && terminated) {
    *out += "expand:";
    AppendQuoted(out, data.substr(0, data.size() - 1));
  } else if (entry.type == kRegDword && data.size() == 4) {
    std::snprintf(number, sizeof number, "dword:%08llx",
                  static_cast<unsigned long long>(FromLittleEndian(data)));
    *out += number;
  } else if (entry.type == kRegQword && data.size() == 8) {
    std::snprintf(number, sizeof number, "qword:%016llx",
                  static_cast<unsigned long long>(FromLittleEndian(data)));
    *out += number;
  } else if (entry.type == kRegMultiSz && data == std::string(2, '\0')) {
    *out += "multi:";
  } else if (entry.type == kRegMultiSz && IsCanonicalMultiSz(data)) {
    *out += "multi:";
    size_t start = 0;
    while (data[start] != '\0') {
      const size_t end = data.find('\0', start);
      if (start > 0) *out += ',';
      AppendQuoted(out, data.substr(start, end - start));
      start = end + 1;
    }
  } else {
    if (entry.type == kRegBinary) {
      *out += "hex:";
    } else {
      std::snprintf(number, sizeof number, "hex(%x):", entry.type);
      *out += number;
    }
    AppendHexBytes(out, data);
  }
}

std::string HeaderLine(const std::string& keyPath) {
  std::string line = "[";
  for (const char ch : keyPath) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '%' || c < 0x20 || c == 0x7f) {
      AppendPercent(&line, c);
    } else {
      line += ch;
    }
  }
  return line + "]\n";
}

std::string FormatKeyFile(const KeyFile& file) {
  std::string text = "; Pelko registry key: one value a line, rewritten whole on change\n";
  text += HeaderLine(file.keyPath);
  for (const RegistryEntry& entry : file.values) {
    if (entry.name.empty()) {
      text += '@';
    } else {
      AppendQuoted(&text, entry.name);
    }
    text += '=';
    AppendData(&text, entry);
    text += '\n';
  }
  return text;
}

// The key's name as first spelled, from its own file; fallback when the
// file does not tell.
std::string SpelledName(const std::string& dir, const std::string& fallback) {
  std::string text;
  std::string untrusted;
  if (ReadWholeFile(dir + "/" + kValuesFile, &text, nullptr, &untrusted) != 0) return fallback;
  const std::string name = LastPart(HeaderKeyPath(text));
  return SameName(name, fallback) ? name : fallback;
}

int32_t WriteNewKeyFile(const std::string& dir, const std::string& keyPath) {
  KeyFile file;
  file.hasHeader = true;
  file.keyPath = keyPath;
  return ReplaceFile(dir, FormatKeyFile(file), nullptr);
}

}  // namespace

struct FileRegistryStore::Handle {
  uint32_t magic = kHandleMagic;
  RootKey root = RootKey::LocalMachine;
  uint32_t access = 0;
  std::vector<std::string> parts;  // as the caller spelled them
  std::string dir;
};

FileRegistryStore::FileRegistryStore(std::string folder, UntrustedHandler onUntrusted)
    : folder_(std::move(folder)), onUntrusted_(std::move(onUntrusted)) {
  while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
  if (folder_.empty()) folder_ = ".";
}

int32_t FileRegistryStore::Refuse(int32_t status, const std::string& untrusted) const {
  if (!untrusted.empty() && onUntrusted_) onUntrusted_(untrusted);
  return status;
}

FileRegistryStore::Handle* FileRegistryStore::Checked(RegKey key) {
  auto* handle = static_cast<Handle*>(key);
  return handle && handle->magic == kHandleMagic ? handle : nullptr;
}

std::string FileRegistryStore::RootDir(RootKey root) const {
  return folder_ + "/" + RootName(root);
}

std::string FileRegistryStore::DisplayPath(RootKey root,
                                           const std::vector<std::string>& parts) const {
  std::string path = RootName(root);
  std::string dir = RootDir(root);
  for (const std::string& part : parts) {
    dir += "/" + DirName(part);
    path += "\\" + SpelledName(dir, part);
  }
  return path;
}

int32_t FileRegistryStore::MakeHandle(RootKey root, const std::string& subKey, uint32_t access,
                                      bool create, RegKey* key) {
  if (!key) return kErrorInvalidParameter;
  *key = nullptr;
  if (root != RootKey::LocalMachine && root != RootKey::CurrentUser) {
    return kErrorInvalidHandle;
  }
  auto handle = std::make_unique<Handle>();
  handle->root = root;
  handle->access = access;
  if (!SplitKeyPath(subKey, &handle->parts)) return kErrorInvalidParameter;
  handle->dir = RootDir(root);
  for (const std::string& part : handle->parts) handle->dir += "/" + DirName(part);

  if (handle->parts.empty() || IsDirectory(handle->dir)) {
    // The roots always exist, as on Win32, even before anything is stored.
  } else if (!create) {
    struct stat st;
    return stat(handle->dir.c_str(), &st) == 0 ? kErrorFileNotFound : StatusFromErrno(errno);
  } else {
    StoreLock lock;
    std::string untrusted;
    int32_t status = lock.Acquire(folder_, &untrusted);
    if (status == kErrorSuccess) status = MakeDirs(RootDir(root));
    if (status == kErrorSuccess) status = CheckTrusted(RootDir(root), &untrusted);
    if (status != kErrorSuccess) return Refuse(status, untrusted);
    std::string dir = RootDir(root);
    std::string path = RootName(root);
    for (const std::string& part : handle->parts) {
      dir += "/" + DirName(part);
      if (MakeDir(dir)) {
        path += "\\" + part;
        status = WriteNewKeyFile(dir, path);
        if (status != kErrorSuccess) return status;
      } else if (errno == EEXIST && IsDirectory(dir)) {
        // Nothing is made inside a key someone else could change.
        status = CheckTrusted(dir, &untrusted);
        if (status != kErrorSuccess) return Refuse(status, untrusted);
        path += "\\" + SpelledName(dir, part);
      } else {
        return errno == EEXIST ? kErrorRegistryIoFailed : StatusFromErrno(errno);
      }
    }
  }
  *key = handle.release();
  return kErrorSuccess;
}

int32_t FileRegistryStore::OpenKey(RootKey root, const std::string& subKey, uint32_t access,
                                   RegKey* key) {
  return MakeHandle(root, subKey, access, false, key);
}

int32_t FileRegistryStore::CreateKey(RootKey root, const std::string& subKey, uint32_t access,
                                     RegKey* key) {
  return MakeHandle(root, subKey, access, true, key);
}

int32_t FileRegistryStore::CloseKey(RegKey key) {
  Handle* handle = Checked(key);
  if (!handle) return kErrorInvalidHandle;
  handle->magic = 0;
  delete handle;
  return kErrorSuccess;
}

int32_t FileRegistryStore::ReadValues(const Handle& handle,
                                      std::vector<RegistryEntry>* values) const {
  values->clear();
  std::string text;
  std::string untrusted;
  const int error = ReadWholeFile(handle.dir + "/" + kValuesFile, &text, nullptr, &untrusted);
  if (error == kUntrusted) return Refuse(kErrorAccessDenied, untrusted);
  if (error == ENOENT) {
    // A key made by hand has no file yet; a deleted key has no directory.
    return handle.parts.empty() || IsDirectory(handle.dir) ? kErrorSuccess : kErrorKeyDeleted;
  }
  if (error == EINVAL) return kErrorSuccess;  // not a file we can use: no values
  if (error != 0) return StatusFromErrno(error);
  KeyFile file;
  ParseKeyFile(text, &file);
  *values = std::move(file.values);
  return kErrorSuccess;
}

int32_t FileRegistryStore::QueryValue(RegKey key, const std::string& name, uint32_t* type,
                                      uint8_t* data, uint32_t* size) {
  Handle* handle = Checked(key);
  if (!handle) return kErrorInvalidHandle;
  if (!Allows(handle->access, kKeyQueryValue)) return kErrorAccessDenied;
  if (data && !size) return kErrorInvalidParameter;
  std::vector<RegistryEntry> values;
  const int32_t status = ReadValues(*handle, &values);
  if (status != kErrorSuccess) return status;
  for (const RegistryEntry& entry : values) {
    if (!SameName(entry.name, name)) continue;
    const auto needed = static_cast<uint32_t>(entry.data.size());
    if (type) *type = entry.type;
    if (data) {
      if (*size < needed) {
        *size = needed;
        return kErrorMoreData;
      }
      std::memcpy(data, entry.data.data(), needed);
    }
    if (size) *size = needed;
    return kErrorSuccess;
  }
  return kErrorFileNotFound;
}

template <typename Change>
int32_t FileRegistryStore::Modify(const Handle& handle, Change change) {
  StoreLock lock;
  std::string untrusted;
  int32_t status = lock.Acquire(folder_, &untrusted);
  if (status == kErrorSuccess && handle.parts.empty()) status = MakeDirs(handle.dir);
  if (status == kErrorSuccess) status = CheckTrusted(handle.dir, &untrusted);
  if (status == kErrorFileNotFound) return kErrorKeyDeleted;
  if (status != kErrorSuccess) return Refuse(status, untrusted);
  std::string text;
  mode_t mode = 0;
  const int error = ReadWholeFile(handle.dir + "/" + kValuesFile, &text, &mode, &untrusted);
  if (error == kUntrusted) return Refuse(kErrorAccessDenied, untrusted);
  if (error == ENOENT && !IsDirectory(handle.dir)) return kErrorKeyDeleted;
  if (error != 0 && error != ENOENT) return StatusFromErrno(error);
  KeyFile file;
  ParseKeyFile(text, &file);
  status = change(&file.values);
  if (status != kErrorSuccess) return status;
  // The header is only for the reader's eye, but a hand-edited one that
  // names another key is put right.
  if (!file.hasHeader || !SameName(file.keyPath, RootName(handle.root) + Joined(handle.parts))) {
    file.keyPath = DisplayPath(handle.root, handle.parts);
  }
  return ReplaceFile(handle.dir, FormatKeyFile(file), error == 0 ? &mode : nullptr);
}

int32_t FileRegistryStore::SetValue(RegKey key, const std::string& name, uint32_t type,
                                    const uint8_t* data, uint32_t size) {
  Handle* handle = Checked(key);
  if (!handle) return kErrorInvalidHandle;
  if (!Allows(handle->access, kKeySetValue)) return kErrorAccessDenied;
  if (!data && size > 0) return kErrorInvalidParameter;
  RegistryEntry entry;
  entry.name = name;
  entry.type = type;
  if (size > 0) entry.data.assign(reinterpret_cast<const char*>(data), size);
  return Modify(*handle, [&entry](std::vector<RegistryEntry>* values) {
    PutValue(values, std::move(entry));
    return kErrorSuccess;
  });
}

int32_t FileRegistryStore::EnumValues(RegKey key, std::vector<RegistryEntry>* values) {
  Handle* handle = Checked(key);
  if (!handle) return kErrorInvalidHandle;
  if (!values) return kErrorInvalidParameter;
  if (!Allows(handle->access, kKeyQueryValue)) return kErrorAccessDenied;
  return ReadValues(*handle, values);
}

int32_t FileRegistryStore::EnumSubKeys(RegKey key, std::vector<std::string>* names) {
  Handle* handle = Checked(key);
  if (!handle) return kErrorInvalidHandle;
  if (!names) return kErrorInvalidParameter;
  if (!Allows(handle->access, kKeyEnumerateSubKeys)) return kErrorAccessDenied;
  names->clear();
  std::string untrusted;
  const int32_t trust = CheckTrusted(handle->dir, &untrusted);
  if (!untrusted.empty()) return Refuse(trust, untrusted);
  DIR* dir = opendir(handle->dir.c_str());
  if (!dir) {
    if (errno == ENOENT) return handle->parts.empty() ? kErrorSuccess : kErrorKeyDeleted;
    return StatusFromErrno(errno);
  }
  std::vector<std::pair<std::string, std::string>> found;  // sort key, name
  while (const dirent* item = readdir(dir)) {
    const std::string entry = item->d_name;
    if (entry == "." || entry == "..") continue;
    const std::string name = PercentDecode(entry);
    // Only names this store would make; anything else was put there by hand.
    if (DirName(name) != entry) continue;
    const std::string path = handle->dir + "/" + entry;
    const bool mayBeDir = item->d_type == DT_UNKNOWN || item->d_type == DT_LNK;
    if (item->d_type != DT_DIR && !(mayBeDir && IsDirectory(path))) continue;
    const std::string spelled = SpelledName(path, name);
    found.emplace_back(LowerAscii(spelled), spelled);
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  for (auto& item : found) names->push_back(std::move(item.second));
  return kErrorSuccess;
}

int32_t FileRegistryStore::KeyName(RegKey key, std::string* name) {
  Handle* handle = Checked(key);
  if (!handle) return kErrorInvalidHandle;
  if (!name) return kErrorInvalidParameter;
  *name = DisplayPath(handle->root, handle->parts);
  return kErrorSuccess;
}

int32_t FileRegistryStore::DeleteValue(RegKey key, const std::string& name) {
  Handle* handle = Checked(key);
  if (!handle) return kErrorInvalidHandle;
  if (!Allows(handle->access, kKeySetValue)) return kErrorAccessDenied;
  return Modify(*handle, [&name](std::vector<RegistryEntry>* values) {
    const auto found =
        std::find_if(values->begin(), values->end(),
                     [&name](const RegistryEntry& e) { return SameName(e.name, name); });
    if (found == values->end()) return kErrorFileNotFound;
    values->erase(found);
    return kErrorSuccess;
  });
}

int32_t FileRegistryStore::DeleteKey(RootKey root, const std::string& subKey) {
  if (root != RootKey::LocalMachine && root != RootKey::CurrentUser) {
    return kErrorInvalidHandle;
  }
  std::vector<std::string> parts;
  if (!SplitKeyPath(subKey, &parts) || parts.empty()) return kErrorInvalidParameter;
  std::string dir = RootDir(root);
  for (const std::string& part : parts) dir += "/" + DirName(part);
  // Moved aside in one rename, so no reader sees half a tree; the files are
  // removed after the lock is released.
  char aside[64];
  std::snprintf(aside, sizeof aside, "/Deleted.%ld.%llu", static_cast<long>(getpid()),
                static_cast<unsigned long long>(deleteCount_++));
  const std::string trash = folder_ + aside;
  {
    StoreLock lock;
    std::string untrusted;
    int32_t status = lock.Acquire(folder_, &untrusted);
    if (status != kErrorSuccess) return Refuse(status, untrusted);
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0) return StatusFromErrno(errno);
    if (!S_ISDIR(st.st_mode)) return kErrorFileNotFound;
    status = CheckTrusted(dir, &untrusted);
    if (status != kErrorSuccess) return Refuse(status, untrusted);
    if (rename(dir.c_str(), trash.c_str()) != 0) return StatusFromErrno(errno);
  }
  std::error_code ignored;
  std::filesystem::remove_all(trash, ignored);
  return kErrorSuccess;
}

Registry& PlatformRegistry() {
  static FileRegistryStore store(
      [] {
        const char* folder = std::getenv("PELKO_REGISTRY");
        return std::string(folder && *folder ? folder : "/var/lib/pelko/registry");
      }(),
      [](const std::string& why) {
        // Its own report rather than the Env's: every program that reads
        // the store says this, and the Env would start them a spooler.
        static TroubleReport troubles(&PlatformLogger());
        troubles.Say(Severity::kError, "store " + why,
                     "Registry store refused: " + why +
                         "; settings that others can change are not used",
                     PlatformClock().MonotonicMs());
      });
  return store;
}

}  // namespace pelko
