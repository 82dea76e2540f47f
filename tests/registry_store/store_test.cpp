#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "agent/platform/posix/registry_store/registry_store.h"
#include "tests/registry_store/temp_store.h"

namespace pelko {
namespace {

constexpr uint32_t kReadWrite = kKeyRead | kKeyWrite;

class RegistryStoreTest : public TempStoreTest {
 protected:
  RegKey Create(const std::string& path, uint32_t access = kReadWrite) {
    RegKey key = nullptr;
    EXPECT_EQ(store().CreateKey(RootKey::kLocalMachine, path, access, &key), kErrorSuccess);
    return key;
  }

  void Set(const std::string& path, const std::string& name, uint32_t type,
           const std::string& data) {
    RegKey key = Create(path);
    ASSERT_EQ(store().SetValue(key, name, type, Data(data), static_cast<uint32_t>(data.size())),
              kErrorSuccess);
    store().CloseKey(key);
  }

  // Type and data through the Win32-style two queries, from a fresh store
  // object so that nothing but the files carries the value.
  int32_t Get(const std::string& path, const std::string& name, uint32_t* type, std::string* data) {
    FileRegistryStore fresh(folder);
    RegKey key = nullptr;
    int32_t status = fresh.OpenKey(RootKey::kLocalMachine, path, kKeyRead, &key);
    if (status != kErrorSuccess) return status;
    uint32_t size = 0;
    status = fresh.QueryValue(key, name, type, nullptr, &size);
    if (status == kErrorSuccess) {
      std::vector<uint8_t> buffer(size + 1);
      status = fresh.QueryValue(key, name, type, buffer.data(), &size);
      *data = Bytes(buffer.data(), size);
    }
    fresh.CloseKey(key);
    return status;
  }

  FileRegistryStore& store() {
    if (!sharedStore) sharedStore = std::make_unique<FileRegistryStore>(folder);
    return *sharedStore;
  }

  std::unique_ptr<FileRegistryStore> sharedStore;
};

// A 40 MB value in Values.reg cost the agent most of a core while idle and
// seconds per job: a value over 64 KiB reads as not set, and is said.
TEST_F(RegistryStoreTest, AValueOverTheSizeAnySettingNeedsIsRefusedAndSaid) {
  Set("Software\\Pelko", "Path", kRegSz, std::string(kMaxValueBytes, 'x'));
  Set("Software\\Pelko", "MailTo", kRegSz, std::string(kMaxValueBytes + 1, 'x'));
  std::vector<std::string> said;
  FileRegistryStore agent(folder, nullptr, [&](const std::string& name, uint64_t bytes) {
    said.push_back(name + " " + std::to_string(bytes));
  });
  RegKey key = nullptr;
  ASSERT_EQ(agent.OpenKey(RootKey::kLocalMachine, "Software\\Pelko", kKeyRead, &key),
            kErrorSuccess);
  uint32_t size = 0;
  EXPECT_EQ(agent.QueryValue(key, "Path", nullptr, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, kMaxValueBytes);
  EXPECT_EQ(agent.QueryValue(key, "MailTo", nullptr, nullptr, &size), kErrorFileNotFound);
  agent.CloseKey(key);
  EXPECT_EQ(said, std::vector<std::string>{"MailTo " + std::to_string(kMaxValueBytes + 1)});
}

TEST_F(RegistryStoreTest, MissingKeysAndValuesFailWithFileNotFoundAndCreateNothing) {
  RegKey key = reinterpret_cast<RegKey>(1);
  EXPECT_EQ(store().OpenKey(RootKey::kLocalMachine, "Software\\Pelko", kKeyRead, &key),
            kErrorFileNotFound);
  EXPECT_EQ(key, nullptr);

  RegKey root = nullptr;
  ASSERT_EQ(store().OpenKey(RootKey::kLocalMachine, "", kKeyRead, &root), kErrorSuccess);
  uint32_t size = 4;
  uint8_t data[4];
  EXPECT_EQ(store().QueryValue(root, "nPrinters", nullptr, data, &size), kErrorFileNotFound);
  store().CloseKey(root);
  EXPECT_FALSE(std::filesystem::exists(folder + "/HKEY_LOCAL_MACHINE"));

  key = Create("Software\\Pelko");
  EXPECT_EQ(store().QueryValue(key, "nPrinters", nullptr, nullptr, &size), kErrorFileNotFound);
  EXPECT_EQ(store().DeleteValue(key, "nPrinters"), kErrorFileNotFound);
  store().CloseKey(key);
  EXPECT_EQ(store().DeleteKey(RootKey::kLocalMachine, "Software\\Other"), kErrorFileNotFound);
}

TEST_F(RegistryStoreTest, QueryReportsSizeAndRefusesSmallBuffers) {
  Set("Software\\Pelko", "Path", kRegSz, std::string("/srv/pelko\0", 11));
  RegKey key = nullptr;
  ASSERT_EQ(store().OpenKey(RootKey::kLocalMachine, "Software\\Pelko", kKeyRead, &key),
            kErrorSuccess);
  uint32_t type = 99;
  uint32_t size = 0;
  EXPECT_EQ(store().QueryValue(key, "Path", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(type, kRegSz);

  uint8_t buffer[16] = {};
  size = 10;
  EXPECT_EQ(store().QueryValue(key, "Path", nullptr, buffer, &size), kErrorMoreData);
  EXPECT_EQ(size, 11u);
  size = sizeof buffer;
  EXPECT_EQ(store().QueryValue(key, "Path", nullptr, buffer, &size), kErrorSuccess);
  EXPECT_EQ(Bytes(buffer, size), std::string("/srv/pelko\0", 11));
  EXPECT_EQ(store().QueryValue(key, "Path", nullptr, buffer, nullptr), kErrorInvalidParameter);
  store().CloseKey(key);
}

// What makes "a number stored as text or binary reads as the default" hold.
TEST_F(RegistryStoreTest, KeepsTypesSoThatOnlyFourByteDataFitsANumber) {
  Set("Software\\Pelko", "AsDword", kRegDword, std::string("\x03\0\0\0", 4));
  Set("Software\\Pelko", "AsText", kRegSz, std::string("3\0", 2));
  Set("Software\\Pelko", "LongText", kRegSz, std::string("1234\0", 5));
  Set("Software\\Pelko", "LongBinary", kRegBinary, std::string(8, '\1'));

  RegKey key = nullptr;
  ASSERT_EQ(store().OpenKey(RootKey::kLocalMachine, "Software\\Pelko", kKeyRead, &key),
            kErrorSuccess);
  uint8_t number[4];
  uint32_t size = 4;
  uint32_t type = 0;
  EXPECT_EQ(store().QueryValue(key, "AsDword", &type, number, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(number[0], 3);
  size = 4;
  EXPECT_EQ(store().QueryValue(key, "AsText", &type, number, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 2u);  // short data: the reader must look at size
  size = 4;
  EXPECT_EQ(store().QueryValue(key, "LongText", nullptr, number, &size), kErrorMoreData);
  EXPECT_EQ(size, 5u);
  size = 4;
  EXPECT_EQ(store().QueryValue(key, "LongBinary", nullptr, number, &size), kErrorMoreData);
  EXPECT_EQ(size, 8u);
  store().CloseKey(key);

  const struct {
    uint32_t type;
    std::string data;
  } kinds[] = {
      {kRegNone, ""},
      {kRegExpandSz, std::string("%HOME%/x\0", 9)},
      {kRegMultiSz, std::string("a\0bc\0\0", 6)},
      {kRegMultiSz, std::string("\0\0", 2)},
      {kRegQword, std::string("\1\2\3\4\5\6\7\x08", 8)},
      {kRegDword, std::string("\1\2", 2)},  // a dword of the wrong size stays so
      {0x12345678, "custom"},
  };
  for (const auto& kind : kinds) {
    Set("Software\\Pelko", "Kind", kind.type, kind.data);
    std::string data;
    EXPECT_EQ(Get("Software\\Pelko", "Kind", &type, &data), kErrorSuccess);
    EXPECT_EQ(type, kind.type);
    EXPECT_EQ(data, kind.data);
  }
}

TEST_F(RegistryStoreTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  RegKey key = Create("Software\\Pelko");
  const std::string three("\3\0\0\0", 4);
  ASSERT_EQ(store().SetValue(key, "nPrinters", kRegDword, Data(three), 4), kErrorSuccess);
  store().CloseKey(key);
  Set("SOFTWARE\\PELKO", "NPRINTERS", kRegDword, std::string("\5\0\0\0", 4));

  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(Get("software\\pelko", "nprinters", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, std::string("\5\0\0\0", 4));

  key = Create("SOFTWARE\\pelko\\Sub");
  std::string name;
  EXPECT_EQ(store().KeyName(key, &name), kErrorSuccess);
  EXPECT_EQ(name, "HKEY_LOCAL_MACHINE\\Software\\Pelko\\Sub");
  store().CloseKey(key);

  key = Create("Software\\Pelko");
  std::vector<RegistryEntry> values;
  EXPECT_EQ(store().EnumValues(key, &values), kErrorSuccess);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "nPrinters");
  std::vector<std::string> subkeys;
  EXPECT_EQ(store().EnumSubKeys(key, &subkeys), kErrorSuccess);
  EXPECT_EQ(subkeys, std::vector<std::string>{"Sub"});
  store().CloseKey(key);

  // The other root is another tree.
  RegKey user = nullptr;
  EXPECT_EQ(store().OpenKey(RootKey::kCurrentUser, "Software\\Pelko", kKeyRead, &user),
            kErrorFileNotFound);
}

TEST_F(RegistryStoreTest, CreateKeyMakesParentsAndDeleteKeyTakesTheSubtree) {
  RegKey deep = Create("A\\B\\C");
  for (const char* path : {"A", "A\\B", "a\\b\\c"}) {
    RegKey key = nullptr;
    EXPECT_EQ(store().OpenKey(RootKey::kLocalMachine, path, kKeyRead, &key), kErrorSuccess) << path;
    store().CloseKey(key);
  }
  ASSERT_EQ(store().SetValue(deep, "v", kRegSz, Data(std::string("x\0", 2)), 2), kErrorSuccess);
  Set("A\\D", "w", kRegSz, std::string("y\0", 2));

  RegKey a = Create("A");
  std::vector<std::string> subkeys;
  EXPECT_EQ(store().EnumSubKeys(a, &subkeys), kErrorSuccess);
  EXPECT_EQ(subkeys, (std::vector<std::string>{"B", "D"}));

  EXPECT_EQ(store().DeleteKey(RootKey::kLocalMachine, "a\\b"), kErrorSuccess);
  EXPECT_EQ(store().EnumSubKeys(a, &subkeys), kErrorSuccess);
  EXPECT_EQ(subkeys, std::vector<std::string>{"D"});
  RegKey gone = nullptr;
  EXPECT_EQ(store().OpenKey(RootKey::kLocalMachine, "A\\B\\C", kKeyRead, &gone),
            kErrorFileNotFound);
  // A handle that outlived its key behaves as on Win32.
  uint32_t size = 0;
  EXPECT_EQ(store().QueryValue(deep, "v", nullptr, nullptr, &size), kErrorKeyDeleted);
  EXPECT_EQ(store().SetValue(deep, "v", kRegSz, Data(std::string("x\0", 2)), 2), kErrorKeyDeleted);
  store().CloseKey(deep);
  store().CloseKey(a);
  EXPECT_EQ(store().DeleteKey(RootKey::kLocalMachine, ""), kErrorInvalidParameter);

  // Nothing is left aside in the folder.
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    EXPECT_EQ(item.path().filename().string().rfind("Deleted.", 0), std::string::npos);
  }
}

TEST_F(RegistryStoreTest, UnnamedValueIsItsOwnValue) {
  Set("Software\\Pelko", "", kRegSz, std::string("default\0", 8));
  Set("Software\\Pelko", "@", kRegSz, std::string("at\0", 3));
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(Get("Software\\Pelko", "", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, std::string("default\0", 8));
  EXPECT_EQ(Get("Software\\Pelko", "@", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, std::string("at\0", 3));
}

TEST_F(RegistryStoreTest, AnyBytesRoundTripInNamesAndData) {
  std::string every;
  for (int c = 0; c < 256; ++c) every += static_cast<char>(c);
  std::string keyName;  // everything but the separator
  for (int c = 1; c < 256; ++c) {
    if (c != '\\') keyName += static_cast<char>(c);
  }
  const std::vector<std::string> keyParts = {
      keyName.substr(0, 120),  keyName.substr(120), ".", "..", "a/b%2F",
      std::string("n\0ul", 4), "Values.reg"};
  std::string path;
  for (const std::string& part : keyParts) path += (path.empty() ? "" : "\\") + part;

  // Text types whose data does not look like text go through hex, the rest
  // through escapes; either way the bytes come back.
  const struct {
    std::string name;
    uint32_t type;
    std::string data;
  } values[] = {
      {every, kRegBinary, every},
      {"sz " + every, kRegSz, every + '\0'},
      {"unterminated", kRegSz, "abc"},
      {"empty", kRegSz, ""},
      {"multi", kRegMultiSz, std::string("\"q\"\0,\0\\\0\0", 9)},
      {"odd multi", kRegMultiSz, std::string("\0a\0\0\0", 5)},
      {"\"quoted\"=dword:1", kRegExpandSz, std::string("x\n\"y\"\r\\\0", 8)},
  };
  for (const auto& value : values) Set(path, value.name, value.type, value.data);

  for (const auto& value : values) {
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(Get(path, value.name, &type, &data), kErrorSuccess) << value.name;
    EXPECT_EQ(type, value.type) << value.name;
    EXPECT_EQ(data, value.data) << value.name;
  }
  RegKey key = Create(path);
  std::string name;
  EXPECT_EQ(store().KeyName(key, &name), kErrorSuccess);
  EXPECT_EQ(name, "HKEY_LOCAL_MACHINE\\" + path);
  std::vector<RegistryEntry> listed;
  EXPECT_EQ(store().EnumValues(key, &listed), kErrorSuccess);
  EXPECT_EQ(listed.size(), std::size(values));
  store().CloseKey(key);

  // Each key path is its own directory: the parent lists exactly its child.
  RegKey parent = Create(keyParts[0] + "\\" + keyParts[1] + "\\.");
  std::vector<std::string> subkeys;
  EXPECT_EQ(store().EnumSubKeys(parent, &subkeys), kErrorSuccess);
  EXPECT_EQ(subkeys, std::vector<std::string>{".."});
  store().CloseKey(parent);
}

TEST_F(RegistryStoreTest, CorruptOrHandEditedFilesAreReadSafely) {
  Set("Software\\Pelko", "Kept", kRegDword, std::string("\7\0\0\0", 4));
  const std::string file = ValuesFile("software/pelko");
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "garbage without equals\n"
           "\"Unterminated=\"abc\n"
           "\"BadDword\"=dword:12345678901\n"
           "\"BadHex\"=hex:1g,02\n"
           "\"BadType\"=hex(zz):01\n"
           "\"Trailing\"=\"text\" junk\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Pelko]\n"
           "  \"Spaced\" = dword:2  \r\n"
           "\"Path\"=\"C:\\Program Files\\x\"\n"
           "@=-\n"
           "\"Kept\"=dword:00000007\n"
           "\"kept\"=dword:00000009\n"
        << std::string("\"Nul\0\"=\xff\xfe\n", 10) << "\"Last\"=hex:0a";  // no newline
  }
  uint32_t type = 0;
  std::string data;
  for (const char* bad : {"Unterminated", "BadDword", "BadHex", "BadType", "Trailing", ""}) {
    EXPECT_EQ(Get("Software\\Pelko", bad, &type, &data), kErrorFileNotFound) << bad;
  }
  EXPECT_EQ(Get("Software\\Pelko", "Spaced", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, std::string("\2\0\0\0", 4));
  EXPECT_EQ(Get("Software\\Pelko", "Path", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, std::string("C:\\Program Files\\x\0", 19));  // unknown escapes kept
  EXPECT_EQ(Get("Software\\Pelko", "Kept", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, std::string("\x09\0\0\0", 4));  // the later line wins
  EXPECT_EQ(Get("Software\\Pelko", "Last", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, "\n");

  // A write keeps what parsed, drops what did not.
  Set("Software\\Pelko", "New", kRegDword, std::string("\1\0\0\0", 4));
  RegKey key = Create("Software\\Pelko");
  std::vector<RegistryEntry> values;
  EXPECT_EQ(store().EnumValues(key, &values), kErrorSuccess);
  std::vector<std::string> names;
  for (const auto& value : values) names.push_back(value.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Spaced", "Path", "Kept", "Last", "New"}));
  store().CloseKey(key);

  // Random damage to a good file: every read still returns a status.
  std::string good;
  {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    good = text.str();
  }
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::string spoilt = good;
    for (int n = 0; n < 4; ++n) {
      spoilt[random() % spoilt.size()] = static_cast<char>(random() % 256);
    }
    if (round % 3 == 0) spoilt.resize(random() % spoilt.size());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << spoilt;
    key = Create("Software\\Pelko");
    EXPECT_EQ(store().EnumValues(key, &values), kErrorSuccess);
    for (const char* name : {"Spaced", "Path", "Kept", "Last", "New"}) {
      uint32_t size = 0;
      const int32_t status = store().QueryValue(key, name, nullptr, nullptr, &size);
      EXPECT_TRUE(status == kErrorSuccess || status == kErrorFileNotFound);
    }
    store().CloseKey(key);
  }
  // And a directory where the file should be is no values, not a failure.
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  key = Create("Software\\Pelko");
  EXPECT_EQ(store().EnumValues(key, &values), kErrorSuccess);
  EXPECT_TRUE(values.empty());
  store().CloseKey(key);
}

TEST_F(RegistryStoreTest, HandlesAndAccessMasksAreCheckedLikeWin32) {
  Set("Software\\Pelko", "v", kRegDword, std::string(4, '\0'));
  RegKey reader = nullptr;
  ASSERT_EQ(store().OpenKey(RootKey::kLocalMachine, "Software\\Pelko", kKeyRead, &reader),
            kErrorSuccess);
  const std::string four(4, '\1');
  EXPECT_EQ(store().SetValue(reader, "v", kRegDword, Data(four), 4), kErrorAccessDenied);
  RegKey writer = Create("Software\\Pelko", kKeyWrite);
  uint32_t size = 0;
  EXPECT_EQ(store().QueryValue(writer, "v", nullptr, nullptr, &size), kErrorAccessDenied);
  EXPECT_EQ(store().SetValue(writer, "v", kRegDword, nullptr, 4), kErrorInvalidParameter);
  EXPECT_EQ(store().SetValue(writer, "v", kRegDword, Data(four), 4), kErrorSuccess);
  store().CloseKey(writer);
  store().CloseKey(reader);

  int notAKey = 0;
  EXPECT_EQ(store().QueryValue(&notAKey, "v", nullptr, nullptr, &size), kErrorInvalidHandle);
  EXPECT_EQ(store().QueryValue(nullptr, "v", nullptr, nullptr, &size), kErrorInvalidHandle);
  EXPECT_EQ(store().CloseKey(nullptr), kErrorInvalidHandle);
  EXPECT_EQ(store().OpenKey(RootKey::kLocalMachine, "x", kKeyRead, nullptr),
            kErrorInvalidParameter);
  RegKey key = nullptr;
  EXPECT_EQ(store().CreateKey(RootKey::kLocalMachine, std::string(300, 'k'), kKeyWrite, &key),
            kErrorInvalidParameter);
}

TEST_F(RegistryStoreTest, PlatformRegistryUsesTheFolderNamedByTheEnvironment) {
  setenv("PELKO_REGISTRY", folder.c_str(), 1);
  Registry& registry = PlatformRegistry();
  RegKey key = nullptr;
  ASSERT_EQ(registry.CreateKey(RootKey::kLocalMachine, "Software\\Pelko", kKeyWrite, &key),
            kErrorSuccess);
  EXPECT_EQ(registry.SetValue(key, "AppIsRunning", kRegDword, Data(std::string("\1\0\0\0", 4)), 4),
            kErrorSuccess);
  registry.CloseKey(key);
  std::ifstream in(ValuesFile("software/pelko"));
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("\"AppIsRunning\"=dword:00000001\n"), std::string::npos);
  EXPECT_NE(text.str().find("[HKEY_LOCAL_MACHINE\\Software\\Pelko]\n"), std::string::npos);
}

}  // namespace
}  // namespace pelko
