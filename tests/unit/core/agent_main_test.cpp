#include "agent/core/agent_main.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_instance_lock.h"

namespace pelko {
namespace {

// The agent runs only while no other holds the lock; the one refused says
// which process does, or why the lock could not be had.
TEST(RunAloneTest, RunsOnlyWhereNoOtherAgentHoldsTheLock) {
  FakeInstanceLock lock;
  int runs = 0;
  const auto agent = [&runs] { return ++runs, 0; };
  std::string refusal;
  EXPECT_EQ(0, RunAlone(lock, "pelkomon", agent, &refusal));
  EXPECT_EQ(1, runs);
  EXPECT_EQ("", refusal);

  lock.heldBy = "process 4711";
  EXPECT_EQ(1, RunAlone(lock, "pelkomon", agent, &refusal));
  EXPECT_EQ(1, runs);
  EXPECT_EQ(
      "pelkomon: another pelkomon runs (process 4711); not started. Stop that one first "
      "(stopmon) to run this one",
      refusal);

  lock.heldBy.clear();
  lock.failure = "/var/lib/pelko/registry/agent.lock is a symbolic link";
  EXPECT_EQ(1, RunAlone(lock, "pelkomon", agent, &refusal));
  EXPECT_EQ(1, runs);
  EXPECT_NE(std::string::npos, refusal.find("cannot be taken: /var/lib/pelko/registry/agent.lock"));
}

}  // namespace
}  // namespace pelko
