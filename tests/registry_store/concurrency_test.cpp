// Several processes, some with several threads, writing and reading one key
// at once: no reader may see a torn value and no writer's value may be lost.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "agent/platform/posix/registry_store/registry_store.h"
#include "tests/registry_store/temp_store.h"

namespace pelko {
namespace {

constexpr int kWriters = 3;
constexpr int kThreadsPerWriter = 2;
constexpr int kValuesPerThread = 8;
constexpr int kReaders = 2;
constexpr int kFinalRound = 1000000;
constexpr auto kWriteFor = std::chrono::milliseconds(1500);
constexpr char kKey[] = "Software\\Pelko\\Load";

std::string ValueName(int writer, int thread, int index) {
  return "w" + std::to_string(writer) + "t" + std::to_string(thread) + "v" + std::to_string(index);
}

// Self-describing data of a varying length, so that a reader can tell a
// whole value from a torn or mixed one.
std::string ValueData(const std::string& name, int round) {
  const std::string head = name + ":" + std::to_string(round) + ":";
  const size_t length = 16 + (static_cast<size_t>(round) * 37 + name.size() * 11) % 3000;
  std::string data = head;
  while (data.size() < length) data += static_cast<char>('a' + (data.size() + round) % 26);
  return data + '\0';
}

bool IsWhole(const std::string& name, const std::string& data) {
  const size_t colon = name.size();
  if (data.compare(0, colon + 1, name + ":") != 0) return false;
  const int round = std::atoi(data.c_str() + colon + 1);
  return data == ValueData(name, round);
}

int WriterThread(FileRegistryStore& store, int writer, int thread) {
  const auto end = std::chrono::steady_clock::now() + kWriteFor;
  int failures = 0;
  for (int round = 0, rounds = 1;; ++round, ++rounds) {
    const bool last = std::chrono::steady_clock::now() >= end;
    if (last) round = kFinalRound;
    RegKey key = nullptr;
    if (store.CreateKey(RootKey::kLocalMachine, kKey, kKeyWrite, &key) != kErrorSuccess) {
      return failures + 1;
    }
    for (int index = 0; index < kValuesPerThread; ++index) {
      const std::string name = ValueName(writer, thread, index);
      const std::string data = ValueData(name, round);
      const int32_t status =
          store.SetValue(key, name, kRegSz, Data(data), static_cast<uint32_t>(data.size()));
      if (status != kErrorSuccess) {
        std::fprintf(stderr, "writing %s failed with %d\n", name.c_str(), status);
        ++failures;
      }
    }
    // One value every writer fights over.
    const std::string shared = ValueData("Shared", round * 10 + writer);
    if (store.SetValue(key, "Shared", kRegSz, Data(shared), static_cast<uint32_t>(shared.size())) !=
        kErrorSuccess) {
      ++failures;
    }
    store.CloseKey(key);
    if (last) {
      std::printf("writer %d thread %d: %d rounds of %d writes\n", writer, thread, rounds,
                  kValuesPerThread + 1);
      return failures;
    }
  }
}

// Exit status: 0 when all went well, 1 when a write failed.
int RunWriter(FileRegistryStore& store, int writer) {
  int failures[kThreadsPerWriter] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreadsPerWriter; ++t) {
    threads.emplace_back(
        [&store, &failures, writer, t] { failures[t] = WriterThread(store, writer, t); });
  }
  for (auto& thread : threads) thread.join();
  for (int count : failures) {
    if (count != 0) return 1;
  }
  return 0;
}

// Reads everything, as the agent would, until told to stop; exit status 2
// on a torn value, 3 on an unexpected status, 4 when it read nothing.
int RunReader(const std::string& folder, int stopFd) {
  FileRegistryStore store(folder);  // its own, as another program has
  long checked = 0;
  for (;;) {
    pollfd stop = {stopFd, POLLIN, 0};
    if (poll(&stop, 1, 0) > 0) break;
    RegKey key = nullptr;
    if (store.OpenKey(RootKey::kLocalMachine, kKey, kKeyRead, &key) != kErrorSuccess) continue;
    std::vector<std::string> names = {"Shared"};
    for (int w = 0; w < kWriters; ++w) {
      for (int t = 0; t < kThreadsPerWriter; ++t) {
        for (int i = 0; i < kValuesPerThread; ++i) names.push_back(ValueName(w, t, i));
      }
    }
    for (const std::string& name : names) {
      uint32_t size = 0;
      int32_t status = store.QueryValue(key, name, nullptr, nullptr, &size);
      if (status == kErrorFileNotFound) continue;  // not written yet
      if (status != kErrorSuccess) return 3;
      std::vector<uint8_t> buffer(size);
      status = store.QueryValue(key, name, nullptr, buffer.data(), &size);
      if (status == kErrorMoreData) continue;  // rewritten longer in between
      if (status != kErrorSuccess) return 3;
      if (!IsWhole(name, Bytes(buffer.data(), size))) return 2;
      ++checked;
    }
    store.CloseKey(key);
  }
  std::printf("reader checked %ld values\n", checked);
  return checked > 0 ? 0 : 4;
}

// Waits for a child at most until deadline; kills it past that.
int WaitChild(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    if (done < 0) return 101;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return 102;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

class RegistryStoreConcurrencyTest : public TempStoreTest {};

TEST_F(RegistryStoreConcurrencyTest, ProcessesWritingAtOnceNeitherTearNorLoseValues) {
  // Built before the fork and shared by the writers: a lock that lived in
  // the object would be one lock for them all and exclude nobody.
  FileRegistryStore store(folder);
  int stopPipe[2];
  ASSERT_EQ(pipe(stopPipe), 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);

  std::vector<pid_t> readers;
  for (int r = 0; r < kReaders; ++r) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(stopPipe[1]);
      const int code = RunReader(folder, stopPipe[0]);
      std::fflush(stdout);
      _exit(code);
    }
    readers.push_back(pid);
  }
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(stopPipe[1]);
      const int code = RunWriter(store, w);
      std::fflush(stdout);
      _exit(code);
    }
    writers.push_back(pid);
  }
  close(stopPipe[0]);
  for (pid_t pid : writers) EXPECT_EQ(WaitChild(pid, deadline), 0) << "writer failed";
  close(stopPipe[1]);  // readers see the pipe readable at its end
  for (pid_t pid : readers) EXPECT_EQ(WaitChild(pid, deadline), 0) << "reader saw a torn value";

  // Every thread's last round is there, whole: no rewrite lost another's.
  RegKey key = nullptr;
  ASSERT_EQ(store.OpenKey(RootKey::kLocalMachine, kKey, kKeyRead, &key), kErrorSuccess);
  std::vector<RegistryEntry> values;
  ASSERT_EQ(store.EnumValues(key, &values), kErrorSuccess);
  EXPECT_EQ(values.size(), 1u + kWriters * kThreadsPerWriter * kValuesPerThread);
  for (int w = 0; w < kWriters; ++w) {
    for (int t = 0; t < kThreadsPerWriter; ++t) {
      for (int i = 0; i < kValuesPerThread; ++i) {
        const std::string name = ValueName(w, t, i);
        uint32_t size = 4096;
        std::vector<uint8_t> buffer(size);
        ASSERT_EQ(store.QueryValue(key, name, nullptr, buffer.data(), &size), kErrorSuccess)
            << name;
        const std::string got = Bytes(buffer.data(), size);
        EXPECT_TRUE(got == ValueData(name, kFinalRound)) << name << " holds " << got.substr(0, 24);
      }
    }
  }
  store.CloseKey(key);
}

}  // namespace
}  // namespace pelko
