// A fake machine with a logs folder at C:\Pelko\Logs, and a check in
// TearDown that every file a test wrote is well-formed XML.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/logs/log_locks.h"
#include "agent/worker/waiter.h"
#include "tests/fakes/fake_env.h"
#include "tests/unit/logs/xml_check.h"

namespace pelko {

class LogTest : public ::testing::Test {
 protected:
  static constexpr const char* kLogs = "C:\\Pelko\\Logs";

  LogTest() {
    fake.registry.PutString("Software\\Pelko\\Path", "C:\\Pelko");
    fake.files.AddFolder(kLogs);
    fake.clock.SetNow(LocalTime{2026, 12, 6, 9, 0, 0, 0});
  }

  void TearDown() override {
    // Only the logs: marks beside them are no XML.
    auto logs = fake.files.Committed();
    std::erase_if(logs, [](const auto& file) { return !file.first.ends_with(".xml"); });
    for (const auto& [path, text] : logs) {
      EXPECT_EQ(text.find('\n'), std::string::npos) << path;
      EXPECT_EQ(text.substr(text.size() < 6 ? 0 : text.size() - 6), "</log>") << path;
    }
    EXPECT_TRUE(AllWellFormed(logs));
  }

  static std::string LogPath(const std::string& base, const std::string& date = "20261206") {
    return std::string(kLogs) + "\\" + base + "_" + date + ".xml";
  }

  FakeEnv fake;
  LogLocks locks;
  std::vector<uint32_t> waits;
  Waiter pause = [this](uint32_t ms) {
    waits.push_back(ms);
    if (onPause) onPause();
    fake.clock.Sleep(ms);
  };
  std::function<void()> onPause;
};

}  // namespace pelko
