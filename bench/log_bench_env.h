// What the log benchmarks run on: the real clock and file layer in a fresh
// folder on the disk, and a registry that holds only the Path value.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "agent/platform/env.h"

namespace pelko {

class PathOnlyRegistry : public Registry {
 public:
  int32_t OpenKey(RootKey, const std::string&, uint32_t, RegKey* key) override {
    *key = this;
    return kErrorSuccess;
  }
  int32_t CreateKey(RootKey, const std::string&, uint32_t, RegKey* key) override {
    *key = nullptr;
    return kErrorAccessDenied;
  }
  int32_t QueryValue(RegKey, const std::string& name, uint32_t* type, uint8_t* data,
                     uint32_t* size) override {
    if (strcasecmp(name.c_str(), "Path") != 0) return kErrorFileNotFound;
    const auto needed = static_cast<uint32_t>(path.size() + 1);
    if (type != nullptr) *type = kRegSz;
    if (data != nullptr && *size < needed) {
      *size = needed;
      return kErrorMoreData;
    }
    if (data != nullptr) std::memcpy(data, path.c_str(), needed);
    *size = needed;
    return kErrorSuccess;
  }
  int32_t SetValue(RegKey, const std::string&, uint32_t, const uint8_t*, uint32_t) override {
    return kErrorAccessDenied;
  }
  int32_t CloseKey(RegKey) override { return kErrorSuccess; }

  std::string path;
};

struct BenchFolder {
  BenchFolder() {
    char temp[] = "/tmp/pelko-bench-XXXXXX";
    path = mkdtemp(temp);
    logs = path + "/Logs";
    mkdir(logs.c_str(), 0777);
    registry.path = path;
    env.registry = &registry;
    env.clock = &PlatformClock();
    env.files = &PlatformFileSystem();
  }
  ~BenchFolder() { std::system(("rm -rf '" + path + "'").c_str()); }

  std::string path;
  std::string logs;
  PathOnlyRegistry registry;
  Env env;
};

}  // namespace pelko
