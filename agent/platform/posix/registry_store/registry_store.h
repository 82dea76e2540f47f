// The registry on POSIX: a folder of plain-text files that the agent,
// pelkoreg and a front end share, one directory per key and the key's values
// in its "Values.reg" in the notation of a .reg file. docs/registry-store.md
// gives the layout, the notation and the locking.
//
// Every change rewrites Values.reg whole through a temporary file and
// rename(), so a reader never sees half a change and needs no lock; writers
// serialise on "registry.lock". The settings decide what the agent, as root,
// runs and writes. So the store is made writable by its owner alone whatever
// the umask, and a file or folder of it (or a folder above it) that anyone
// else could change is neither read nor written: the call fails with
// ERROR_ACCESS_DENIED and the store's owner is told why.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "agent/platform/posix/registry_store/store_types.h"
#include "agent/platform/registry.h"

namespace pelko {

class FileRegistryStore : public Registry {
 public:
  // Called, from any thread, with the reason each time the store refuses a
  // place someone else could change.
  using UntrustedHandler = std::function<void(const std::string& why)>;

  // Called with a value's name and size each time a query meets a value
  // over kMaxValueBytes, which is refused as if it were missing.
  using OversizedHandler = std::function<void(const std::string& name, uint64_t bytes)>;

  explicit FileRegistryStore(std::string folder, UntrustedHandler onUntrusted = nullptr,
                             OversizedHandler onOversized = nullptr);

  // Registry. Access masks are honoured like Win32: queries need
  // KEY_QUERY_VALUE, writes KEY_SET_VALUE.
  int32_t OpenKey(RootKey root, const std::string& subKey, uint32_t access, RegKey* key) override;
  int32_t CreateKey(RootKey root, const std::string& subKey, uint32_t access, RegKey* key) override;
  int32_t QueryValue(RegKey key, const std::string& name, uint32_t* type, uint8_t* data,
                     uint32_t* size) override;
  int32_t SetValue(RegKey key, const std::string& name, uint32_t type, const uint8_t* data,
                   uint32_t size) override;
  int32_t CloseKey(RegKey key) override;

  // For pelkoreg. Values come in the order they were first set, subkeys by
  // name (their spelling as first created), sorted without regard to case.
  int32_t EnumValues(RegKey key, std::vector<RegistryEntry>* values);
  int32_t EnumSubKeys(RegKey key, std::vector<std::string>* names);
  // The key's full name, e.g. "HKEY_LOCAL_MACHINE\Software\Pelko".
  int32_t KeyName(RegKey key, std::string* name);
  int32_t DeleteValue(RegKey key, const std::string& name) override;
  // Deletes the key with all its subkeys. The root keys cannot be deleted.
  int32_t DeleteKey(RootKey root, const std::string& subKey);

  const std::string& folder() const { return folderPath; }

 private:
  struct Handle;
  static Handle* Checked(RegKey key);
  int32_t MakeHandle(RootKey root, const std::string& subKey, uint32_t access, bool create,
                     RegKey* key);
  int32_t MakeKeyDirs(RootKey root, const std::vector<std::string>& parts);
  std::string RootDir(RootKey root) const;
  std::string KeyDir(RootKey root, const std::vector<std::string>& parts) const;
  std::string DisplayPath(RootKey root, const std::vector<std::string>& parts) const;
  int32_t ReadValues(const Handle& handle, std::vector<RegistryEntry>* values) const;
  // Read-modify-write of one key's values under the store's lock; change
  // returns a status, and the file is rewritten only when it is success.
  template <typename Change>
  int32_t Modify(const Handle& handle, Change change);

  // status, after telling the handler when untrusted says why.
  int32_t Refuse(int32_t status, const std::string& untrusted) const;

  std::string folderPath;
  UntrustedHandler onUntrusted;
  OversizedHandler onOversized;
  std::atomic<uint64_t> deleteCount{0};
};

// The folder of the machine's store: PELKO_REGISTRY, else
// /var/lib/pelko/registry.
std::string PlatformStoreFolder();

}  // namespace pelko
