// The POSIX spooler and page counters against a private cupsd, started by
// run_platform_test.sh with the queues Office (generic PostScript) and Raw
// (raw), both on the slow null backend, and every request in its access log.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/platform/clock.h"
#include "agent/platform/pdh/perf_data.h"
#include "agent/platform/posix/cups_client.h"
#include "agent/platform/spooler.h"

namespace pelko {
namespace {

using Clock = std::chrono::steady_clock;

std::string Shell(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  pclose(pipe);
  return output;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A PostScript document of n pages, in a file of its own.
std::string Document(int pages) {
  const std::string path = Env("PELKO_TEST_DIR") + "/doc" + std::to_string(pages) + ".ps";
  std::ofstream out(path);
  out << "%!PS-Adobe-3.0\n%%Pages: " << pages << "\n%%EndComments\n";
  for (int i = 1; i <= pages; ++i) {
    out << "%%Page: " << i << " " << i << "\n/Helvetica findfont 24 scalefont setfont "
        << "72 720 moveto (Page " << i << ") show showpage\n";
  }
  out << "%%EOF\n";
  return path;
}

// lp with these options; the job id, or 0.
uint32_t Print(const std::string& options, int pages) {
  const std::string out = Shell("lp " + options + " " + Document(pages));
  const std::size_t dash = out.find('-', out.find("request id is "));
  return dash == std::string::npos ? 0 : static_cast<uint32_t>(std::atoi(out.c_str() + dash + 1));
}

bool Eventually(const std::function<bool()>& done, int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool QueueEmpty(const std::string& queue) {
  return Shell("lpstat -o " + queue).find(queue + "-") == std::string::npos;
}

struct Listed {
  uint32_t error = 0;
  std::vector<uint32_t> ids;
  std::vector<std::string> users;
  std::vector<std::string> documents;
};

// One poll, the way the printer thread makes it.
Listed Look(const std::string& printer) {
  Listed listed;
  Spooler& spooler = PlatformSpooler();
  PrinterHandle handle = nullptr;
  listed.error = spooler.OpenPrinterA(printer, &handle);
  if (listed.error != 0) return listed;
  uint32_t needed = 0;
  uint32_t returned = 0;
  listed.error = spooler.EnumJobsA(handle, 0, 0xFFFFFFFF, 1, nullptr, 0, &needed, &returned);
  if (listed.error == 0 || listed.error == kErrorInsufficientBuffer) {
    std::vector<uint8_t> buffer(needed);
    listed.error =
        spooler.EnumJobsA(handle, 0, 0xFFFFFFFF, 1, buffer.data(), needed, &needed, &returned);
    for (uint32_t i = 0; listed.error == 0 && i < returned; ++i) {
      const auto* job = reinterpret_cast<const JobInfo1*>(buffer.data()) + i;
      listed.ids.push_back(job->JobId);
      listed.users.push_back(job->pUserName != nullptr ? job->pUserName : "(none)");
      listed.documents.push_back(job->pDocument != nullptr ? job->pDocument : "(none)");
    }
  }
  spooler.ClosePrinter(handle);
  return listed;
}

bool Lists(const std::string& printer, uint32_t id) {
  const Listed listed = Look(printer);
  for (uint32_t seen : listed.ids) {
    if (seen == id) return true;
  }
  return false;
}

int GetJobsRequests() {
  std::ifstream log(Env("CUPS_ENV_DIR") + "/log/access_log");
  std::string line;
  int count = 0;
  while (std::getline(log, line)) count += line.find("Get-Jobs") != std::string::npos;
  return count;
}

TEST(CupsSpooler, NamesTheQueuesOfTheDefaultServerAndOfHosts) {
  EXPECT_EQ(Look("Office").error, 0u);
  EXPECT_EQ(Look("\\\\" + ThisComputerName() + "\\Office").error, 0u)
      << "this computer's name is the default server";
  for (const char* bad : {"", "\\\\", "\\\\host", "\\\\host\\", "\\\\h\\a\\b", "a/b", "a b"}) {
    EXPECT_EQ(Look(bad).error, kErrorInvalidPrinterName) << bad;
  }
  EXPECT_EQ(Look("NoSuchQueue").error, kErrorInvalidPrinterName);

  Spooler& spooler = PlatformSpooler();
  PrinterHandle handle = nullptr;
  ASSERT_EQ(spooler.OpenPrinterA("Office", &handle), 0u);
  uint32_t needed = 0;
  uint32_t returned = 0;
  EXPECT_EQ(spooler.EnumJobsA(handle, 0, 0xFFFFFFFF, 2, nullptr, 0, &needed, &returned),
            kErrorInvalidLevel);
  EXPECT_EQ(spooler.ClosePrinter(handle), 0u);
  EXPECT_EQ(spooler.ClosePrinter(handle), 6u) << "a closed handle is refused";
  int stack = 0;
  EXPECT_EQ(spooler.EnumJobsA(&stack, 0, 1, 1, nullptr, 0, &needed, &returned), 6u);
}

TEST(CupsSpooler, EnumerationFillsTheCallersBufferInQueueOrder) {
  const uint32_t first = Print("-d Office -H hold -t \"first <&'\"", 1);
  const uint32_t second = Print("-d Office -H hold -t second", 1);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  ASSERT_TRUE(Eventually([&] { return Lists("Office", second); }, 2000));

  Spooler& spooler = PlatformSpooler();
  PrinterHandle handle = nullptr;
  ASSERT_EQ(spooler.OpenPrinterA("Office", &handle), 0u);
  uint32_t needed = 0;
  uint32_t returned = 0;
  ASSERT_EQ(spooler.EnumJobsA(handle, 0, 0xFFFFFFFF, 1, nullptr, 0, &needed, &returned),
            kErrorInsufficientBuffer);
  const uint32_t size = needed;
  ASSERT_GT(size, 2 * sizeof(JobInfo1));
  std::vector<uint8_t> buffer(size + 64, 0xEE);
  EXPECT_EQ(spooler.EnumJobsA(handle, 0, 0xFFFFFFFF, 1, buffer.data(), size - 1, &needed,
                             &returned),
            kErrorInsufficientBuffer);
  EXPECT_EQ(needed, size);
  ASSERT_EQ(spooler.EnumJobsA(handle, 0, 0xFFFFFFFF, 1, buffer.data(), size, &needed, &returned),
            0u);
  ASSERT_EQ(returned, 2u);
  EXPECT_EQ(buffer[size], 0xEE) << "nothing written past the size given";
  const auto* jobs = reinterpret_cast<const JobInfo1*>(buffer.data());
  EXPECT_EQ(jobs[0].JobId, first);
  EXPECT_EQ(jobs[1].JobId, second);
  EXPECT_STREQ(jobs[0].pDocument, "first <&'");
  EXPECT_STREQ(jobs[0].pUserName, "root");
  EXPECT_STREQ(jobs[0].pPrinterName, "Office");
  EXPECT_EQ(jobs[0].Status & kJobStatusPaused, kJobStatusPaused);
  EXPECT_EQ(jobs[1].Position, 2u);
  for (const char* text : {jobs[0].pDocument, jobs[1].pUserName, jobs[1].pPrinterName}) {
    EXPECT_GE(reinterpret_cast<const uint8_t*>(text), buffer.data());
    EXPECT_LT(reinterpret_cast<const uint8_t*>(text), buffer.data() + size);
  }
  // From the second job on, one job.
  ASSERT_EQ(spooler.EnumJobsA(handle, 1, 1, 1, buffer.data(), size, &needed, &returned), 0u);
  ASSERT_EQ(returned, 1u);
  EXPECT_EQ(jobs[0].JobId, second);
  spooler.ClosePrinter(handle);

  Shell("cancel " + std::to_string(first) + " " + std::to_string(second));
  EXPECT_TRUE(Eventually([&] { return Look("Office").ids.empty(); }, 2000));
}

// Idle looks are answered without a request; a new job, and a job cancelled
// before it printed (which CUPS announces to nobody), are seen at once.
void WatchIdleQueue(const std::string& printer) {
  ASSERT_TRUE(Eventually([] { return QueueEmpty("Office"); }, 20000));
  // Long enough for the subscription and its first push.
  for (int i = 0; i < 75; ++i) {
    Look(printer);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const int before = GetJobsRequests();
  // A look that outruns its time budget on a loaded machine fails and is
  // simply repeated at the next one; more than a few would be a fault.
  int failed = 0;
  for (int i = 0; i < 100; ++i) {
    failed += Look(printer).error != 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_LE(failed, 3);
  const int asked = GetJobsRequests() - before;
  EXPECT_LE(asked, 5) << "100 looks in 2 s asked the server " << asked << " times";

  // A watcher may sleep through the looks of an idle queue: the push of the
  // new job wakes it.
  Spooler& spooler = PlatformSpooler();
  std::unique_ptr<Signal> changed = PlatformClock().NewSignal();
  spooler.AddChangeSignal(printer, changed.get());
  Look(printer);
  const uint32_t quiet = spooler.QuietMs(printer);
  EXPECT_GT(quiet, 0u);
  EXPECT_LE(quiet, 1000u) << "an idle queue is still asked once a second";
  EXPECT_FALSE(changed->Wait(0));

  const uint32_t id = Print("-d Office -H hold -t watched", 1);
  const auto printed = Clock::now();
  EXPECT_TRUE(changed->Wait(1000));
  EXPECT_LT(Clock::now() - printed, std::chrono::milliseconds(100)) << "pushed at once";
  EXPECT_EQ(spooler.QuietMs(printer), 0u) << "a push since the last fetch";
  ASSERT_TRUE(Eventually([&] { return Lists(printer, id); }, 1000));
  EXPECT_LT(Clock::now() - printed, std::chrono::milliseconds(100));
  EXPECT_EQ(spooler.QuietMs(printer), 0u) << "a queue with jobs is looked at every time";
  spooler.RemoveChangeSignal(printer, changed.get());
  Shell("cancel " + std::to_string(id));
  const auto cancelled = Clock::now();
  ASSERT_TRUE(Eventually([&] { return !Lists(printer, id); }, 1000));
  EXPECT_LT(Clock::now() - cancelled, std::chrono::milliseconds(100));
}

TEST(CupsSpooler, LooksAtTheLocalServerCostItNothingAndMissNothing) {
  WatchIdleQueue("Office");
}

TEST(CupsSpooler, LooksAtAnotherServerCostItNothingAndMissNothing) {
  const std::string port = Env("CUPS_ENV_PORT");
  ASSERT_FALSE(port.empty());
  WatchIdleQueue("\\\\127.0.0.1:" + port + "\\Office");
}

// A server that takes connections and never answers.
class SilentServer {
 public:
  SilentServer() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd, 16) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port = ntohs(address.sin_port);
    }
  }
  ~SilentServer() { close(fd); }
  int fd = -1;
  int port = 0;
};

TEST(CupsSpooler, ServersThatDoNotAnswerFailWithinTheBudget) {
  SilentServer silent;
  ASSERT_NE(silent.port, 0);
  const std::string names[] = {"\\\\127.0.0.1:1\\Office", "\\\\no-such-host.invalid\\Office",
                               "\\\\127.0.0.1:" + std::to_string(silent.port) + "\\Office"};
  for (const std::string& printer : names) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      const auto start = Clock::now();
      EXPECT_EQ(Look(printer).error, kErrorServerUnavailable) << printer;
      EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kCupsCallBudgetMs + 150))
          << printer;
    }
  }
  // The silent server is not asked again at once.
  const auto start = Clock::now();
  EXPECT_EQ(Look(names[2]).error, kErrorServerUnavailable);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
}

class CupsCounter : public ::testing::Test {
 protected:
  ~CupsCounter() override {
    if (query != nullptr) perf.CloseQuery(query);
  }
  PdhCounter Add(const std::string& path, PdhStatus expected = kPdhSuccess) {
    if (query == nullptr) {
      EXPECT_EQ(perf.OpenQuery(nullptr, 1, &query), kPdhSuccess);
    }
    PdhCounter counter = nullptr;
    EXPECT_EQ(perf.AddCounter(query, path, 1, &counter), expected) << path;
    return counter;
  }
  // The counter's value after a fresh collect, or -1 with its status.
  double Read(PdhCounter counter, uint32_t* status = nullptr) {
    EXPECT_EQ(perf.CollectQueryData(query), kPdhSuccess);
    PdhFmtCounterValue value{};
    const PdhStatus got = perf.GetFormattedCounterValue(counter, kPdhFmtDouble, nullptr, &value);
    if (status != nullptr) *status = value.CStatus;
    return got == kPdhSuccess ? value.doubleValue : -1;
  }
  static std::string PathOf(const std::string& queue) {
    return "\\\\" + ThisComputerName() + "\\Print Queue(" + queue + ")\\Total Pages Printed";
  }

  PerfData& perf = PlatformPerfData();
  PdhQuery query = nullptr;
};

TEST_F(CupsCounter, OnlyThePageCounterOfPrintQueuesIsServed) {
  Add("Total Pages Printed", kPdhCstatusBadCountername);
  Add("\\System\\System Up Time", kPdhCstatusNoObject);
  Add("\\Print Queue(Office)\\Jobs", kPdhCstatusNoCounter);
  Add("\\\\a/b\\Print Queue(Office)\\Total Pages Printed", kPdhCstatusNoMachine);
  EXPECT_EQ(perf.CollectQueryData(query), kPdhNoData) << "a query without counters";
  PdhCounter counter = Add("\\print queue(Office)\\total pages printed");
  PdhFmtCounterValue value{};
  EXPECT_EQ(perf.GetFormattedCounterValue(counter, kPdhFmtDouble, nullptr, &value),
            kPdhInvalidData)
      << "nothing collected yet";
  EXPECT_EQ(perf.AddCounter(reinterpret_cast<PdhQuery>(~uintptr_t{0}), PathOf("Office"), 1,
                            &counter),
            kPdhInvalidHandle);
  EXPECT_EQ(perf.RemoveCounter(reinterpret_cast<PdhCounter>(~uintptr_t{0})), kPdhInvalidHandle);

  uint32_t status = 0;
  EXPECT_EQ(Read(Add(PathOf("NoSuchQueue")), &status), -1);
  EXPECT_EQ(status, kPdhCstatusNoInstance);
  EXPECT_EQ(Read(Add("\\\\127.0.0.1:1\\Print Queue(Office)\\Total Pages Printed"), &status), -1);
  EXPECT_EQ(status, kPdhCstatusNoMachine);
}

TEST_F(CupsCounter, CountsThePagesPrintedAndNoneOnARawQueue) {
  PdhCounter office = Add(PathOf("Office"));
  PdhCounter raw = Add("\\Print Queue(Raw)\\Total Pages Printed");
  const double office0 = Read(office);
  const double raw0 = Read(raw);
  ASSERT_GE(office0, 0);
  ASSERT_GE(raw0, 0);
  std::vector<PdhRawCounter> ring;
  PdhRawCounter sample{};
  ASSERT_EQ(perf.GetRawCounterValue(office, nullptr, &sample), kPdhSuccess);
  ring.push_back(sample);

  ASSERT_NE(Print("-d Office -t three", 3), 0u);
  ASSERT_NE(Print("-d Raw -t raw", 3), 0u);
  EXPECT_TRUE(Eventually([&] { return Read(office) == office0 + 3; }, 20000));
  ASSERT_EQ(perf.GetRawCounterValue(office, nullptr, &sample), kPdhSuccess);
  ring.push_back(sample);
  ASSERT_TRUE(Eventually([] { return QueueEmpty("Raw") && QueueEmpty("Office"); }, 20000));
  EXPECT_EQ(Read(office), office0 + 3);
  EXPECT_EQ(Read(raw), raw0) << "CUPS counts no pages on a raw queue";

  ASSERT_EQ(perf.GetRawCounterValue(office, nullptr, &sample), kPdhSuccess);
  ring.push_back(sample);
  PdhStatistics statistics{};
  ASSERT_EQ(perf.ComputeCounterStatistics(office, kPdhFmtDouble, 1, 3, ring.data(), &statistics),
            kPdhSuccess);
  EXPECT_EQ(statistics.min.doubleValue, office0);
  EXPECT_EQ(statistics.max.doubleValue, office0 + 3);
  EXPECT_DOUBLE_EQ(statistics.mean.doubleValue, office0 + 2);
  EXPECT_EQ(perf.ComputeCounterStatistics(office, kPdhFmtDouble, 3, 3, ring.data(), &statistics),
            kPdhInvalidArgument);
}

TEST_F(CupsCounter, TotalKeepsWhatTheServerForgot) {
  // The scheduler keeps at most CUPS_ENV_MAXJOBS jobs.
  PdhCounter office = Add(PathOf("Office"));
  const double start = Read(office);
  for (int i = 0; i < 5; ++i) {
    ASSERT_NE(Print("-d Office -t forgotten", 1), 0u);
    ASSERT_TRUE(Eventually([] { return QueueEmpty("Office"); }, 20000));
    EXPECT_TRUE(Eventually([&] { return Read(office) == start + i + 1; }, 5000)) << i;
  }
  const std::string completed = Shell("lpstat -W completed -o Office");
  int listed = 0;
  for (std::size_t at = completed.find("Office-"); at != std::string::npos;
       at = completed.find("Office-", at + 1)) {
    ++listed;
  }
  EXPECT_LE(listed, std::atoi(Env("CUPS_ENV_MAXJOBS").c_str()));
  EXPECT_EQ(Read(office), start + 5);
}

}  // namespace
}  // namespace pelko
