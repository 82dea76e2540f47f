// pelkoreg as administrators run it: the built program, its output and its
// exit status, on a store folder of the test's own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "agent/platform/posix/registry_store/registry_store.h"
#include "tests/registry_store/temp_store.h"

namespace pelko {
namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class PelkoregTest : public TempStoreTest {
 protected:
  // Runs pelkoreg with standard input from /dev/null: no terminal to ask.
  Result Run(const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      close(out[0]);
      close(err[0]);
      setenv("PELKO_REGISTRY", folder.c_str(), 1);
      std::vector<char*> argv = {const_cast<char*>(PELKOREG_PATH)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(PELKOREG_PATH, argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Result result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* texts[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
      if (poll(fds, 2, 100) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
        char buffer[4096];
        const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        if (got > 0) {
          texts[i]->append(buffer, static_cast<size_t>(got));
        } else {
          close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        }
      }
    }
    if (open > 0) kill(pid, SIGKILL);
    for (const pollfd& fd : fds) {
      if (fd.fd >= 0) close(fd.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  void ExpectSuccess(const std::vector<std::string>& args) {
    const Result result = Run(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "The operation completed successfully.\n");
    EXPECT_EQ(result.err, "");
  }

  void ExpectError(const std::vector<std::string>& args) {
    const Result result = Run(args);
    std::string line;
    for (const std::string& arg : args) line += " " + arg;
    EXPECT_EQ(result.status, 1) << line;
    EXPECT_EQ(result.err.rfind("ERROR: ", 0), 0u) << line << ": " << result.err;
    EXPECT_EQ(result.out, "") << line;
  }
};

TEST_F(PelkoregTest, AddQueryDeleteRoundTripInRegExeLayout) {
  const std::string key = "HKLM\\Software\\Pelko";
  ExpectSuccess({"add", key, "/v", "nPrinters", "/t", "REG_DWORD", "/d", "3", "/f"});
  ExpectSuccess({"ADD", "hkey_local_machine\\SOFTWARE\\pelko", "/V", "Path", "/d", "/srv/pelko"});
  ExpectSuccess({"add", key, "/ve", "/d", "unnamed"});
  ExpectSuccess({"add", key, "/v", "Mask", "/t", "reg_dword", "/d", "0xFF"});
  ExpectSuccess({"add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", "00a1FF"});
  ExpectSuccess({"add", key, "/v", "Names", "/t", "REG_MULTI_SZ", "/d", "one|two", "/s", "|"});
  ExpectSuccess({"add", key, "/v", "Dirs", "/t", "REG_MULTI_SZ", "/d", "a\\0b"});
  ExpectSuccess({"add", key, "/v", "Big", "/t", "REG_QWORD", "/d", "4294967296"});
  ExpectSuccess({"add", key, "/v", "Home", "/t", "REG_EXPAND_SZ", "/d", "%HOME%/pelko"});
  ExpectSuccess({"add", key, "/v", "Nothing", "/t", "REG_NONE"});
  ExpectSuccess({"add", key + "\\Printers"});
  ExpectSuccess({"add", "HKCU\\Software\\Pelko", "/v", "User", "/d", "x"});

  Result result = Run({"query", "HKLM\\SOFTWARE\\Pelko"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Pelko\n"
            "    nPrinters    REG_DWORD    0x3\n"
            "    Path    REG_SZ    /srv/pelko\n"
            "    (Default)    REG_SZ    unnamed\n"
            "    Mask    REG_DWORD    0xff\n"
            "    Blob    REG_BINARY    00A1FF\n"
            "    Names    REG_MULTI_SZ    one\\0two\n"
            "    Dirs    REG_MULTI_SZ    a\\0b\n"
            "    Big    REG_QWORD    0x100000000\n"
            "    Home    REG_EXPAND_SZ    %HOME%/pelko\n"
            "    Nothing    REG_NONE    \n"
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Pelko\\Printers\n");

  result = Run({"query", key, "/v", "NPRINTERS"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "\nHKEY_LOCAL_MACHINE\\Software\\Pelko\n    nPrinters    REG_DWORD    0x3\n\n");
  result = Run({"query", "HKEY_CURRENT_USER\\software\\pelko", "/ve"});
  EXPECT_EQ(result.status, 1);  // the other root has no unnamed value

  // What the agent reads: a dword of 4 bytes, a text with its zero byte.
  FileRegistryStore store(folder);
  RegKey handle = nullptr;
  ASSERT_EQ(store.OpenKey(RootKey::kLocalMachine, "Software\\Pelko", kKeyRead, &handle),
            kErrorSuccess);
  uint32_t type = 0;
  uint32_t size = 0;
  EXPECT_EQ(store.QueryValue(handle, "nPrinters", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(store.QueryValue(handle, "Path", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(store.QueryValue(handle, "Names", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, 9u);  // one\0two\0\0
  store.CloseKey(handle);

  ExpectSuccess({"delete", key, "/v", "path", "/f"});
  ExpectError({"query", key, "/v", "Path"});
  ExpectSuccess({"delete", key, "/ve", "/f"});
  ExpectSuccess({"delete", key, "/va", "/f"});
  result = Run({"query", key});
  EXPECT_EQ(result.out,
            "\nHKEY_LOCAL_MACHINE\\Software\\Pelko\n\n"
            "HKEY_LOCAL_MACHINE\\Software\\Pelko\\Printers\n");
  ExpectSuccess({"delete", "HKLM\\Software", "/f"});
  ExpectError({"query", key});
  result = Run({"query", "HKCU\\Software\\Pelko", "/v", "User"});
  EXPECT_EQ(result.status, 0);
}

TEST_F(PelkoregTest, RecursiveQueryListsEveryKeyAndSearchesForAValue) {
  ExpectSuccess({"add", "HKLM\\Software\\Pelko", "/v", "Path", "/d", "/srv"});
  ExpectSuccess({"add", "HKLM\\Software\\Pelko\\b", "/v", "x", "/t", "REG_DWORD", "/d", "1"});
  ExpectSuccess({"add", "HKLM\\Software\\Pelko\\A\\Deep", "/v", "path", "/d", "/deep"});

  Result result = Run({"query", "HKLM\\Software\\Pelko", "/s"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Pelko\n"
            "    Path    REG_SZ    /srv\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Pelko\\A\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Pelko\\A\\Deep\n"
            "    path    REG_SZ    /deep\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Pelko\\b\n"
            "    x    REG_DWORD    0x1\n"
            "\n");

  result = Run({"query", "HKLM\\Software", "/v", "PATH", "/s"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Pelko\n"
            "    Path    REG_SZ    /srv\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Pelko\\A\\Deep\n"
            "    path    REG_SZ    /deep\n"
            "\n"
            "End of search: 2 match(es) found.\n");
  ExpectError({"query", "HKLM\\Software", "/v", "Missing", "/s"});
}

TEST_F(PelkoregTest, ExistingValueIsNotOverwrittenWithoutForceOrTerminal) {
  ExpectSuccess({"add", "HKLM\\Software\\Pelko", "/v", "nPrinters", "/t", "REG_DWORD", "/d", "3"});
  ExpectError({"add", "HKLM\\Software\\Pelko", "/v", "NPrinters", "/t", "REG_DWORD", "/d", "4"});
  ExpectError({"delete", "HKLM\\Software\\Pelko", "/v", "nPrinters"});
  ExpectError({"delete", "HKLM\\Software\\Pelko"});
  const Result result = Run({"query", "HKLM\\Software\\Pelko", "/v", "nPrinters"});
  EXPECT_NE(result.out.find("nPrinters    REG_DWORD    0x3\n"), std::string::npos);
  ExpectSuccess(
      {"add", "HKLM\\Software\\Pelko", "/v", "nPrinters", "/t", "REG_DWORD", "/d", "4", "/f"});
}

TEST_F(PelkoregTest, BadArgumentsAndMissingThingsFailWithAMessage) {
  ExpectSuccess({"add", "HKLM\\Software\\Pelko", "/v", "Path", "/d", "/srv"});
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"copy", "HKLM\\Software\\Pelko"},
      {"add"},
      {"add", "HKCR\\Software\\Pelko", "/v", "x"},
      {"add", "Software\\Pelko", "/v", "x"},
      {"add", "\\\\host\\HKLM\\Software", "/v", "x"},
      {"add", "HKLM\\Software\\Pelko", "/v"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/ve"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/v", "y"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_NUMBER", "/d", "1"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_DWORD", "/d", "three"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_DWORD", "/d", "-1"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_DWORD", "/d", "4294967296"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_DWORD", "/d", "0x"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_DWORD", "/d", " 3"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_QWORD", "/d", "18446744073709551616"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_BINARY", "/d", "abc"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_BINARY", "/d", "zz"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/t", "REG_MULTI_SZ", "/s", "||"},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/s", ","},
      {"add", "HKLM\\Software\\Pelko", "/v", "x", "/bogus"},
      {"query", "HKLM\\Software\\Missing"},
      {"query", "HKLM\\Software\\Pelko", "/v", "Missing"},
      {"query", "HKLM\\Software\\Pelko", "/ve"},
      {"query", "HKLM\\Software\\Pelko", "/d", "x"},
      {"delete", "HKLM\\Software\\Pelko", "/v", "Missing", "/f"},
      {"delete", "HKLM\\Software\\Missing", "/f"},
      {"delete", "HKLM", "/f"},
  };
  for (const auto& args : bad) ExpectError(args);

  // Nothing of that was stored.
  const Result result = Run({"query", "HKLM\\Software\\Pelko"});
  EXPECT_EQ(result.out, "\nHKEY_LOCAL_MACHINE\\Software\\Pelko\n    Path    REG_SZ    /srv\n\n");
}

TEST_F(PelkoregTest, HelpPrintsUsage) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/?"}, {"-?"}, {"add", "/?"}}) {
    const Result result = Run(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("PELKOREG ADD KeyName"), std::string::npos);
    EXPECT_NE(result.out.find("PELKOREG QUERY KeyName"), std::string::npos);
  }
}

TEST_F(PelkoregTest, AStoreOthersCanWriteIsNotUsedAndTheMessageSaysWhy) {
  ExpectSuccess({"add", "HKLM\\Software\\Pelko", "/v", "Path", "/d", "/srv/pelko"});
  chmod(folder.c_str(), 0777);
  const std::vector<std::vector<std::string>> commands = {
      {"query", "HKLM\\Software\\Pelko", "/v", "Path"},
      {"add", "HKLM\\Software\\Pelko", "/v", "Path", "/d", "/home/mallory", "/f"}};
  for (const auto& command : commands) {
    const std::string& operation = command[0];
    const Result result = Run(command);
    EXPECT_EQ(result.status, 1) << operation;
    EXPECT_EQ(result.err, "ERROR: The registry store in " + folder + " is not used: " + folder +
                              " can be written by every user. Only root (or the store's owner) "
                              "may be able to write the store and the folders above it.\n")
        << operation;
  }
}

}  // namespace
}  // namespace pelko
