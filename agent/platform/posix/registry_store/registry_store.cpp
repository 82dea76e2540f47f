// The registry store's keys and values: handles, access rights, and each
// change made under the store's lock (files in store_file.h).
#include "agent/platform/posix/registry_store/registry_store.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "agent/platform/posix/registry_store/key_names.h"
#include "agent/platform/posix/registry_store/reg_text.h"
#include "agent/platform/posix/registry_store/store_file.h"
#include "agent/platform/posix/registry_store/store_lock.h"
#include "agent/util/coding.h"

namespace pelko {

namespace {

using key_names::DirName;
using key_names::Joined;
using key_names::RootName;
using key_names::SpelledName;
using key_names::SplitKeyPath;
using reg_text::FormatKeyFile;
using reg_text::KeyFile;
using reg_text::ParseKeyFile;
using reg_text::PercentDecode;
using reg_text::PutValue;
using reg_text::SameName;
using store_file::CheckTrusted;
using store_file::IsDirectory;
using store_file::kUntrusted;
using store_file::kValuesFile;
using store_file::MakeDir;
using store_file::MakeDirs;
using store_file::ReadWholeFile;
using store_file::ReplaceFile;
using store_file::StatusFromErrno;

constexpr uint32_t kHandleMagic = 0x59454b50;  // "PKEY"

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

// The two roots the store keeps; any other is no handle.
bool IsRoot(RootKey root) {
  return root == RootKey::kLocalMachine || root == RootKey::kCurrentUser;
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
  RootKey root = RootKey::kLocalMachine;
  uint32_t access = 0;
  std::vector<std::string> parts;  // as the caller spelled them
  std::string dir;
};

FileRegistryStore::FileRegistryStore(std::string folder, UntrustedHandler onUntrusted,
                                     OversizedHandler onOversized)
    : folderPath(std::move(folder)),
      onUntrusted(std::move(onUntrusted)),
      onOversized(std::move(onOversized)) {
  while (folderPath.size() > 1 && folderPath.back() == '/') folderPath.pop_back();
  if (folderPath.empty()) folderPath = ".";
}

int32_t FileRegistryStore::Refuse(int32_t status, const std::string& untrusted) const {
  if (!untrusted.empty() && onUntrusted) onUntrusted(untrusted);
  return status;
}

FileRegistryStore::Handle* FileRegistryStore::Checked(RegKey key) {
  auto* handle = static_cast<Handle*>(key);
  return handle && handle->magic == kHandleMagic ? handle : nullptr;
}

std::string FileRegistryStore::RootDir(RootKey root) const {
  return folderPath + "/" + RootName(root);
}

std::string FileRegistryStore::KeyDir(RootKey root, const std::vector<std::string>& parts) const {
  std::string dir = RootDir(root);
  for (const std::string& part : parts) dir += "/" + DirName(part);
  return dir;
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

// Under the store's lock: each missing key folder on the way, with a file
// that keeps the key's name as spelled here.
int32_t FileRegistryStore::MakeKeyDirs(RootKey root, const std::vector<std::string>& parts) {
  StoreLock lock;
  std::string untrusted;
  int32_t status = lock.Acquire(folderPath, &untrusted);
  if (status == kErrorSuccess) status = MakeDirs(RootDir(root));
  if (status == kErrorSuccess) status = CheckTrusted(RootDir(root), &untrusted);
  if (status != kErrorSuccess) return Refuse(status, untrusted);
  std::string dir = RootDir(root);
  std::string path = RootName(root);
  for (const std::string& part : parts) {
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
  return kErrorSuccess;
}

int32_t FileRegistryStore::MakeHandle(RootKey root, const std::string& subKey, uint32_t access,
                                      bool create, RegKey* key) {
  if (!key) return kErrorInvalidParameter;
  *key = nullptr;
  if (!IsRoot(root)) return kErrorInvalidHandle;
  auto handle = std::make_unique<Handle>();
  handle->root = root;
  handle->access = access;
  if (!SplitKeyPath(subKey, &handle->parts)) return kErrorInvalidParameter;
  handle->dir = KeyDir(root, handle->parts);

  if (handle->parts.empty() || IsDirectory(handle->dir)) {
    // The roots always exist, as on Win32, even before anything is stored.
  } else if (!create) {
    struct stat st;
    return stat(handle->dir.c_str(), &st) == 0 ? kErrorFileNotFound : StatusFromErrno(errno);
  } else {
    const int32_t status = MakeKeyDirs(root, handle->parts);
    if (status != kErrorSuccess) return status;
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
    if (entry.data.size() > kMaxValueBytes) {
      if (onOversized) onOversized(entry.name, entry.data.size());
      return kErrorFileNotFound;
    }
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
  int32_t status = lock.Acquire(folderPath, &untrusted);
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
  if (!IsRoot(root)) return kErrorInvalidHandle;
  std::vector<std::string> parts;
  if (!SplitKeyPath(subKey, &parts) || parts.empty()) return kErrorInvalidParameter;
  const std::string dir = KeyDir(root, parts);
  // Moved aside in one rename, so no reader sees half a tree; the files are
  // removed after the lock is released.
  char aside[64];
  std::snprintf(aside, sizeof aside, "/Deleted.%ld.%llu", static_cast<long>(getpid()),
                static_cast<unsigned long long>(deleteCount++));
  const std::string trash = folderPath + aside;
  {
    StoreLock lock;
    std::string untrusted;
    int32_t status = lock.Acquire(folderPath, &untrusted);
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

std::string PlatformStoreFolder() {
  const char* folder = std::getenv("PELKO_REGISTRY");
  return std::string(folder && *folder ? folder : "/var/lib/pelko/registry");
}

}  // namespace pelko
