#include "stoptool/posix/stop_tool.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/stoptool/posix/fake_process_control.h"

namespace pelko::stoptool {
namespace {

using Calls = std::vector<std::string>;

constexpr char kAgent[] = "/opt/pelko/pelkomon";
constexpr char kFrontEnd[] = "/opt/pelko/Tavisk";

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunTool(FakeProcessControl& system, const std::vector<std::string>& args = {}) {
  std::ostringstream out;
  std::ostringstream err;
  int status = RunPosixStopTool(system, args, out, err);
  return {status, out.str(), err.str()};
}

TEST(PosixStopToolTest, EndsEveryFrontEndAndAgentThenWaitsForAll) {
  FakeProcessControl system;
  system.programs[kFrontEnd].running.ids = {7};
  system.programs[kAgent].running.ids = {30, 31};

  Outcome outcome = RunTool(system);

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out + outcome.err, "");
  EXPECT_EQ(system.calls,
            (Calls{"find /opt/pelko/Tavisk", "terminate 7", "find /opt/pelko/pelkomon",
                   "terminate 30", "terminate 31", "wait 7 30 31 for 5000 ms"}));
}

// The front end is not part of every installation; the agent is.
TEST(PosixStopToolTest, NothingRunningAndNoFrontEndInstalled) {
  FakeProcessControl system;
  system.programs[kAgent] = {};

  Outcome outcome = RunTool(system);

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out + outcome.err, "");

  system.programs.clear();
  outcome = RunTool(system);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "stopmon: cannot find the agent's program: "
            "/opt/pelko/pelkomon: No such file or directory\n");
}

TEST(PosixStopToolTest, EachProcessLeftRunningIsNamedAndTheStatusIsOne) {
  FakeProcessControl system;
  system.programs[kFrontEnd].running.ids = {7};
  system.programs[kAgent].running = {{30, 31, 32}, {12}};
  system.refusing = {30};
  system.stubborn = {7, 32};

  Outcome outcome = RunTool(system);

  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err,
            "stopmon: process 12 runs a /opt/pelko/pelkomon that has since been replaced; "
            "not the agent installed now, so it was left running\n"
            "stopmon: cannot end the agent (process 30): Operation not permitted\n"
            "stopmon: the front end (process 7) did not end within 5 s\n"
            "stopmon: the agent (process 32) did not end within 5 s\n");
  // The others are still ended and waited for.
  EXPECT_EQ(system.calls,
            (Calls{"find /opt/pelko/Tavisk", "terminate 7", "find /opt/pelko/pelkomon",
                   "refused 30", "terminate 31", "terminate 32", "wait 7 31 32 for 5000 ms"}));
}

TEST(PosixStopToolTest, SearchesThatCannotBeMadeAreReported) {
  FakeProcessControl system;
  system.programs[kFrontEnd].found = ProcessControl::Found::kFailed;
  system.programs[kAgent].running.ids = {30};

  Outcome outcome = RunTool(system);

  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "stopmon: cannot look for the front end: cannot list /proc: Permission denied\n");
  EXPECT_EQ(system.calls.back(), "wait 30 for 5000 ms");

  FakeProcessControl lost;
  lost.folderUnknown = true;
  outcome = RunTool(lost);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "stopmon: cannot tell which folder it lies in: cannot read /proc/self/exe\n");
  EXPECT_TRUE(lost.calls.empty());
}

TEST(PosixStopToolTest, ArgumentsAreRefusedBeforeAnythingIsEnded) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-f"}, {"pelkomon"}, {""}, {"--help", "now"}}) {
    FakeProcessControl system;
    system.programs[kAgent].running.ids = {30};
    Outcome outcome = RunTool(system, args);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err.rfind("stopmon: unexpected argument '" + args[0] + "'", 0), 0u)
        << outcome.err;
    EXPECT_NE(outcome.err.find("usage: stopmon\n"), std::string::npos);
    EXPECT_TRUE(system.calls.empty());
  }

  FakeProcessControl system;
  Outcome help = RunTool(system, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: stopmon\n", 0), 0u);
  EXPECT_EQ(help.err, "");
  EXPECT_TRUE(system.calls.empty());
}

}  // namespace
}  // namespace pelko::stoptool
