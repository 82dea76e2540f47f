// A registry store folder of the test's own, removed when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "agent/platform/posix/registry_store/registry_store.h"

namespace pelko {

class TempStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelko-registry-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  // The key's Values.reg, for tests that look at or spoil the files.
  std::string ValuesFile(const std::string& dirs) const {
    return folder + "/HKEY_LOCAL_MACHINE/" + dirs + "/Values.reg";
  }

  std::string folder;
};

inline std::string Bytes(const uint8_t* data, uint32_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

inline const uint8_t* Data(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

}  // namespace pelko
