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
#include "agent/platform/posix/reg_text.h"
#include "agent/platform/posix/safe_path.h"
#include "agent/util/coding.h"

namespace pelko {

namespace {

using reg_text::AppendPercent;
using reg_text::FormatKeyFile;
using reg_text::HeaderKeyPath;
using reg_text::KeyFile;
using reg_text::LastPart;
using reg_text::ParseKeyFile;
using reg_text::PercentDecode;
using reg_text::PutValue;
using reg_text::SameName;

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
    found.emplace_back(AsciiLowered(spelled), spelled);
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
