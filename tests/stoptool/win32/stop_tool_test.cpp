#include "stoptool/win32/stop_tool.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/stoptool/win32/fake_stop_platform.h"

namespace pelko::stoptool {
namespace {

using Calls = std::vector<std::string>;

struct Outcome {
  int status;
  std::string err;
};

Outcome RunTool(FakeStopPlatform& platform) {
  std::ostringstream err;
  int status = RunStopTool(platform, err);
  return {status, err.str()};
}

TEST(StopToolTest, StartUpFailureIsReportedAndNothingElseHappens) {
  FakeStopPlatform platform;
  platform.startUpFails = true;
  platform.window = 7;
  platform.processes = {{40, "Pelkomon.exe"}};

  Outcome outcome = RunTool(platform);

  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "Fatal Error: MFC initialization failed\n");
  EXPECT_EQ(platform.calls, Calls{"start up"});
}

TEST(StopToolTest, NeitherWindowNorAgent) {
  FakeStopPlatform platform;
  platform.processes = {{4, "System"}, {8, "explorer.exe"}};

  Outcome outcome = RunTool(platform);

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(platform.calls, (Calls{"start up", "find window Tavisk", "take snapshot", "read 4",
                                   "read 8", "end of snapshot", "close snapshot"}));
}

TEST(StopToolTest, WindowOnlyIsClosedBeforeTheWalk) {
  FakeStopPlatform platform;
  platform.window = 0x1234;
  platform.processes = {{4, "System"}};

  Outcome outcome = RunTool(platform);

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(platform.calls,
            (Calls{"start up", "find window Tavisk", "close window 4660", "take snapshot", "read 4",
                   "end of snapshot", "close snapshot"}));
}

TEST(StopToolTest, WindowAndAgentBothHandled) {
  FakeStopPlatform platform;
  platform.window = 99;
  platform.processes = {{4, "System"}, {300, "Pelkomon.exe"}};

  Outcome outcome = RunTool(platform);

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(platform.calls,
            (Calls{"start up", "find window Tavisk", "close window 99", "take snapshot", "read 4",
                   "read 300", "terminate 300", "close snapshot"}));
}

// Also: the very first entry is compared like every other, and the walk
// stops at the first match.
TEST(StopToolTest, OnlyTheFirstAgentInSnapshotOrderIsTerminated) {
  FakeStopPlatform platform;
  platform.processes = {{900, "Pelkomon.exe"}, {12, "Pelkomon.exe"}, {13, "x.exe"}};

  Outcome outcome = RunTool(platform);

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(platform.calls, (Calls{"start up", "find window Tavisk", "take snapshot", "read 900",
                                   "terminate 900", "close snapshot"}));
}

TEST(StopToolTest, NameDifferingOnlyInCaseIsTheAgent) {
  FakeStopPlatform platform;
  platform.processes = {{5, "Pelkomon.exe.old"}, {6, "PELKOMON.EXE"}};

  RunTool(platform);

  EXPECT_EQ(platform.calls, (Calls{"start up", "find window Tavisk", "take snapshot", "read 5",
                                   "read 6", "terminate 6", "close snapshot"}));
}

// The agent found first cannot be opened: no other process is tried.
TEST(StopToolTest, AgentThatCannotBeOpenedEndsTheStepQuietly) {
  FakeStopPlatform platform;
  platform.processes = {{21, "Pelkomon.exe"}, {22, "Pelkomon.exe"}};
  platform.unopenable = {21};

  Outcome outcome = RunTool(platform);

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(platform.calls, (Calls{"start up", "find window Tavisk", "take snapshot", "read 21",
                                   "open refused 21", "close snapshot"}));
}

TEST(StopToolTest, NoSnapshotStillClosesTheWindow) {
  FakeStopPlatform platform;
  platform.window = 3;
  platform.snapshotFails = true;
  platform.processes = {{40, "Pelkomon.exe"}};

  Outcome outcome = RunTool(platform);

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(platform.calls,
            (Calls{"start up", "find window Tavisk", "close window 3", "take snapshot"}));
}

TEST(AgentNameTest, WholeNameWithoutRegardToCase) {
  EXPECT_TRUE(IsAgentExeName("Pelkomon.exe"));
  EXPECT_TRUE(IsAgentExeName("PELKOMON.EXE"));
  EXPECT_TRUE(IsAgentExeName("pelkOMON.Exe"));
  for (const char* other : {"", "Pelkomon.ex", "Pelkomon.exe ", " Pelkomon.exe", "xPelkomon.exe",
                            "Pelkomon.exe.bak", "Pelkomon.exe\x01"}) {
    EXPECT_FALSE(IsAgentExeName(other)) << other;
  }
  EXPECT_FALSE(IsAgentExeName("pelkomon"));
}

}  // namespace
}  // namespace pelko::stoptool
