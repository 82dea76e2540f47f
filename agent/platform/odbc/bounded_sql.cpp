#include "agent/platform/odbc/bounded_sql.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <iterator>
#include <mutex>
#include <system_error>
#include <thread>

namespace pelko {

namespace {

std::atomic<int> abandoned{0};

// What the caller and the connection's thread share; it lives as long as
// either of them.
struct CallState {
  std::mutex mutex;
  std::condition_variable changed;
  std::unique_ptr<SqlConnection> inner;
  std::function<bool(SqlConnection&)> call;  // the call to make, until taken
  bool finished = false;
  bool result = false;
  bool givenUp = false;  // the caller left: roll back, close, end
  bool closing = false;  // the caller is done with the connection
  bool closed = false;   // and the connection is closed
};

void Serve(std::shared_ptr<CallState> state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    state->changed.wait(lock, [&] { return state->call || state->closing; });
    if (!state->call) break;
    auto call = std::move(state->call);
    state->call = nullptr;
    lock.unlock();
    const bool result = call(*state->inner);
    lock.lock();
    if (state->givenUp) {
      lock.unlock();
      --abandoned;  // the server answered
      // Whatever the late call did stays uncommitted.
      state->inner->Rollback();
      state->inner.reset();
      return;
    }
    state->result = result;
    state->finished = true;
    state->changed.notify_all();
  }
  lock.unlock();
  state->inner.reset();
  lock.lock();
  state->closed = true;
  state->changed.notify_all();
}

class BoundedConnection : public SqlConnection {
 public:
  // Throws std::system_error when no thread can be had.
  BoundedConnection(std::unique_ptr<SqlConnection> inner, uint32_t boundMs)
      : state(std::make_shared<CallState>()), boundMs(boundMs) {
    state->inner = std::move(inner);
    std::thread(Serve, state).detach();
  }
  // Waits for the close (within the bound), so that a program that ends
  // next does not end under a driver still at work.
  ~BoundedConnection() override {
    std::unique_lock<std::mutex> lock(state->mutex);
    state->closing = true;
    state->changed.notify_all();
    if (!state->givenUp) {
      state->changed.wait_for(lock, std::chrono::milliseconds(boundMs),
                              [&] { return state->closed; });
    }
  }

  // What a call reads and writes lives with the call, not on the caller's
  // stack: a call given up on goes on after its caller has left.
  bool Execute(std::string_view sql, const std::vector<SqlParam>& params,
               std::vector<SqlRow>* rows) override {
    struct Statement {
      std::string sql;
      std::vector<SqlParam> params;
      std::vector<SqlRow> rows;
      bool wantsRows;
    };
    auto statement =
        std::make_shared<Statement>(Statement{std::string(sql), params, {}, rows != nullptr});
    const bool ok = Call([statement](SqlConnection& c) {
      return c.Execute(statement->sql, statement->params,
                       statement->wantsRows ? &statement->rows : nullptr);
    });
    if (ok && rows != nullptr) {
      std::move(statement->rows.begin(), statement->rows.end(), std::back_inserter(*rows));
    }
    return ok;
  }
  bool ExecuteLong(std::string_view sql, uint32_t seconds) override {
    auto text = std::make_shared<std::string>(sql);
    // As BoundCalls is given for the connection's timeout.
    return Call([text, seconds](SqlConnection& c) { return c.ExecuteLong(*text, seconds); },
                (seconds * 2 + 5) * 1000);
  }
  bool Commit() override {
    return Call([](SqlConnection& c) { return c.Commit(); });
  }
  bool Rollback() override {
    return Call([](SqlConnection& c) { return c.Rollback(); });
  }
  std::string ProductName() override {
    auto name = std::make_shared<std::string>();
    Call([name](SqlConnection& c) {
      *name = c.ProductName();
      return true;
    });
    return *name;
  }
  std::string LastError() const override { return lastError; }
  bool Lost() const override { return lost; }

 private:
  bool Call(std::function<bool(SqlConnection&)> call) { return Call(std::move(call), boundMs); }
  bool Call(std::function<bool(SqlConnection&)> call, uint32_t bound) {
    if (lost) return false;
    auto outcome = std::make_shared<Outcome>();
    std::unique_lock<std::mutex> lock(state->mutex);
    state->finished = false;
    state->call = [call = std::move(call), outcome](SqlConnection& c) {
      const bool ok = call(c);
      outcome->error = c.LastError();
      outcome->lost = c.Lost();
      return ok;
    };
    state->changed.notify_all();
    if (!state->changed.wait_for(lock, std::chrono::milliseconds(bound),
                                 [&] { return state->finished; })) {
      state->givenUp = true;
      ++abandoned;
      lost = true;
      lastError = "HYT00: the database did not answer within " + std::to_string(bound / 1000) +
                  " s; the connection is given up";
      return false;
    }
    lastError = outcome->error;
    lost = outcome->lost;
    return state->result;
  }

  struct Outcome {
    std::string error;
    bool lost = false;
  };

  std::shared_ptr<CallState> state;
  uint32_t boundMs;
  std::string lastError;
  bool lost = false;
};

}  // namespace

std::unique_ptr<SqlConnection> BoundCalls(std::unique_ptr<SqlConnection> inner, uint32_t boundMs) {
  try {
    return std::make_unique<BoundedConnection>(std::move(inner), boundMs);
  } catch (const std::system_error&) {
    return nullptr;  // inner, moved into the state, is closed with it
  }
}

int AbandonedConnections() { return abandoned.load(); }

}  // namespace pelko
