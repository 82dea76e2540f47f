#include "agent/platform/odbc/bounded_sql.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace pelko {
namespace {

// What the test and a connection share: a gate that holds every statement
// until the test opens it, and what became of the connection.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = true;
  int statements = 0;
  int rollbacks = 0;
  bool closed = false;

  void Set(bool value) {
    std::lock_guard<std::mutex> lock(mutex);
    open = value;
    changed.notify_all();
  }
  // Bounded only so that a broken build fails rather than hangs.
  bool WaitClosed() {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(60), [&] { return closed; });
  }
};

class GatedConnection : public SqlConnection {
 public:
  explicit GatedConnection(Gate& gate) : gate(gate) {}
  ~GatedConnection() override {
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.closed = true;
    gate.changed.notify_all();
  }
  bool Execute(std::string_view sql, const std::vector<SqlParam>& params,
               std::vector<SqlRow>* rows) override {
    std::unique_lock<std::mutex> lock(gate.mutex);
    gate.changed.wait(lock, [&] { return gate.open; });
    ++gate.statements;
    if (sql == "fail") {
      error = "42000: refused";
      return false;
    }
    if (rows != nullptr) rows->push_back({std::string(sql), params.at(0).text});
    return true;
  }
  bool ExecuteLong(std::string_view sql, uint32_t seconds) override {
    longSeconds = seconds;
    return Execute(sql, {SqlParam::Text("long")}, nullptr);
  }
  bool Commit() override { return true; }
  bool Rollback() override {
    std::lock_guard<std::mutex> lock(gate.mutex);
    ++gate.rollbacks;
    return true;
  }
  std::string ProductName() override { return "Gated"; }
  uint32_t longSeconds = 0;
  std::string LastError() const override { return error; }
  bool Lost() const override { return false; }

 private:
  Gate& gate;
  std::string error;
};

TEST(BoundedSqlTest, CallsThatAnswerPassThroughWithTheirRowsAndErrors) {
  Gate gate;
  {
    auto connection = BoundCalls(std::make_unique<GatedConnection>(gate), 600000);
    std::vector<SqlRow> rows{{"kept"}};
    ASSERT_TRUE(connection->Execute("SELECT ?", {SqlParam::Text("a'b")}, &rows));
    EXPECT_EQ(rows, (std::vector<SqlRow>{{"kept"}, {"SELECT ?", "a'b"}}));
    EXPECT_FALSE(connection->Execute("fail", {}, nullptr));
    EXPECT_EQ(connection->LastError(), "42000: refused");
    EXPECT_FALSE(connection->Lost());
    EXPECT_EQ(connection->ProductName(), "Gated");
    EXPECT_TRUE(connection->Rollback());
  }
  EXPECT_TRUE(gate.WaitClosed());
  EXPECT_EQ(gate.statements, 2);
}

// A server that stops answering in the middle of a statement: the caller
// is let go at the bound, the connection reads as lost, and when the
// server answers at last, what the statement did is rolled back and the
// connection closed.
TEST(BoundedSqlTest, AStatementThatNeverAnswersIsGivenUpAndRolledBackLater) {
  Gate gate;
  gate.open = false;
  const int before = AbandonedConnections();
  auto connection = BoundCalls(std::make_unique<GatedConnection>(gate), 50);
  std::vector<SqlRow> rows;
  EXPECT_FALSE(connection->Execute("INSERT", {SqlParam::Text("x")}, &rows));
  EXPECT_TRUE(connection->Lost());
  EXPECT_NE(connection->LastError().find("did not answer"), std::string::npos);
  EXPECT_EQ(AbandonedConnections(), before + 1);
  // Given up: no call reaches the connection any more.
  EXPECT_FALSE(connection->Commit());
  connection.reset();
  EXPECT_TRUE(rows.empty());
  gate.Set(true);
  ASSERT_TRUE(gate.WaitClosed());
  EXPECT_EQ(gate.statements, 1);
  EXPECT_EQ(gate.rollbacks, 1);
  EXPECT_EQ(AbandonedConnections(), before);
}

// A statement given its own seconds (an index made over every row) is
// waited for past the connection's bound, which holds again after it.
TEST(BoundedSqlTest, ALongStatementOutlastsTheUsualBound) {
  Gate gate;
  gate.open = false;
  auto inner = std::make_unique<GatedConnection>(gate);
  GatedConnection* seen = inner.get();
  auto connection = BoundCalls(std::move(inner), 50);
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // six times the usual bound
    gate.Set(true);
  });
  EXPECT_TRUE(connection->ExecuteLong("CREATE INDEX", 60));
  opener.join();
  EXPECT_EQ(seen->longSeconds, 60u);
  EXPECT_FALSE(connection->Lost());
  gate.Set(false);
  EXPECT_FALSE(connection->Execute("SELECT ?", {SqlParam::Text("x")}, nullptr));
  EXPECT_TRUE(connection->Lost());
  gate.Set(true);
  connection.reset();
  EXPECT_TRUE(gate.WaitClosed());
}

}  // namespace
}  // namespace pelko
