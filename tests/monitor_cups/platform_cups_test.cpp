// The POSIX spooler and its page counter against a private cupsd, started by
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
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "agent/platform/clock.h"
#include "agent/platform/posix/cups/cups_client.h"
#include "agent/platform/spooler.h"
#include "tests/lib/shell_output.h"

namespace pelko {
namespace {

using Clock = std::chrono::steady_clock;

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
// The scheduler keeps CUPS_ENV_MAXJOBS jobs and refuses one more until it
// has let go of an ended job's processes, which a loaded machine delays:
// that refusal is waited out, with a bound.
uint32_t Print(const std::string& options, int pages) {
  const auto until = Clock::now() + std::chrono::seconds(20);
  std::string out;
  do {
    out = Shell("lp " + options + " " + Document(pages));
    if (out.find("request id is ") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (out.find("many") != std::string::npos && Clock::now() < until);
  const std::size_t dash = out.find('-', out.find("request id is "));
  if (dash == std::string::npos) ADD_FAILURE() << "lp " << options << ": " << out;
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

struct Listing {
  SpoolStatus status = SpoolStatus::kFailed;
  std::vector<SpoolJob> jobs;
  // The job of this id in the state given, or nullptr.
  const SpoolJob* Find(uint32_t id, JobState state) const {
    for (const SpoolJob& job : jobs) {
      if (job.id == id && job.state == state) return &job;
    }
    return nullptr;
  }
  const SpoolJob* Active(uint32_t id) const {
    const SpoolJob* job = Find(id, JobState::kWaiting);
    return job != nullptr ? job : Find(id, JobState::kPrinting);
  }
  int Ended() const {
    int count = 0;
    for (const SpoolJob& job : jobs) count += job.state == JobState::kEnded;
    return count;
  }
};

Listing List(const std::string& queue, std::unique_ptr<JobCursor>* cursor) {
  Listing listing;
  listing.status = PlatformSpooler().ListJobs(queue, cursor, &listing.jobs);
  return listing;
}

// One look with a cursor of its own, the way a watcher's first look is.
Listing Look(const std::string& queue) {
  std::unique_ptr<JobCursor> cursor;
  return List(queue, &cursor);
}

bool InQueue(const std::string& queue, uint32_t id) {
  return Shell("lpstat -o " + queue).find(queue + "-" + std::to_string(id) + " ") !=
         std::string::npos;
}

uint32_t Total(const std::string& queue) {
  uint32_t total = 0;
  EXPECT_EQ(PlatformSpooler().ReadPageTotal(queue, &total), SpoolStatus::kOk) << queue;
  return total;
}

// CUPS's own final count of each job, from its page_log ("total" lines).
std::map<uint32_t, uint32_t> PageLog() {
  std::ifstream log(Env("CUPS_ENV_DIR") + "/log/page_log");
  std::map<uint32_t, uint32_t> pages;
  std::string printer, user, line;
  while (std::getline(log, line)) {
    const std::size_t total = line.rfind(" total ");
    if (total == std::string::npos) continue;
    std::istringstream fields(line);
    uint32_t id = 0;
    fields >> printer >> user >> id;
    pages[id] = static_cast<uint32_t>(std::atoi(line.c_str() + total + 7));
  }
  return pages;
}

int GetJobsRequests() {
  std::ifstream log(Env("CUPS_ENV_DIR") + "/log/access_log");
  std::string line;
  int count = 0;
  while (std::getline(log, line)) count += line.find("Get-Jobs") != std::string::npos;
  return count;
}

// Stops the scheduler and starts it again on the same folder; it then
// daemonizes (run_platform_test.sh stops it by its pid file).
bool RestartScheduler() {
  const std::string dir = Env("CUPS_ENV_DIR");
  const std::string pid = Shell("cat " + dir + "/state/cupsd.pid");
  Shell("kill -TERM " + pid);
  const bool down = Eventually(
      [] { return Shell("lpstat -r").find("scheduler is running") == std::string::npos; }, 10000);
  Shell("sleep 0.5; cupsd -c " + dir + "/cupsd.conf -s " + dir + "/cups-files.conf");
  return down &&
         Eventually(
             [] { return Shell("lpstat -r").find("scheduler is running") != std::string::npos; },
             10000);
}

TEST(CupsSpooler, NamesTheQueuesOfTheDefaultServerAndOfHosts) {
  EXPECT_EQ(Look("Office").status, SpoolStatus::kOk);
  EXPECT_EQ(Look("\\\\" + ThisComputerName() + "\\Office").status, SpoolStatus::kOk)
      << "this computer's name is the default server";
  for (const char* bad : {"", "\\\\", "\\\\host", "\\\\host\\", "\\\\h\\a\\b", "a/b", "a b"}) {
    EXPECT_EQ(Look(bad).status, SpoolStatus::kNoQueue) << bad;
    uint32_t total = 7;
    EXPECT_EQ(PlatformSpooler().ReadPageTotal(bad, &total), SpoolStatus::kNoQueue) << bad;
  }
  // A failed listing leaves the cursor as it was.
  std::unique_ptr<JobCursor> cursor;
  EXPECT_EQ(List("NoSuchQueue", &cursor).status, SpoolStatus::kNoQueue);
  EXPECT_EQ(cursor, nullptr);
  ASSERT_EQ(List("Office", &cursor).status, SpoolStatus::kOk);
  JobCursor* made = cursor.get();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(List("\\\\127.0.0.1:1\\Office", &cursor).status, SpoolStatus::kUnavailable);
  EXPECT_EQ(cursor.get(), made);
  EXPECT_EQ(List("Office", &cursor).status, SpoolStatus::kOk);
  EXPECT_EQ(cursor.get(), made) << "the same cursor goes on";
}

TEST(CupsSpooler, ListsJobsInQueueOrderAndTellsEachEndedJobOnce) {
  std::unique_ptr<JobCursor> cursor;
  // Printed and gone before the cursor was made: not told.
  const uint32_t before = Print("-d Office -t before", 1);
  ASSERT_NE(before, 0u);
  ASSERT_TRUE(Eventually([&] { return !InQueue("Office", before); }, 20000));
  Listing listing = List("Office", &cursor);
  ASSERT_EQ(listing.status, SpoolStatus::kOk);
  EXPECT_EQ(listing.Ended(), 0) << "a new cursor starts from now";

  const uint32_t first = Print("-d Office -H hold -t \"first <&'\"", 1);
  const uint32_t second = Print("-d Office -H hold -n 2 -t second", 2);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  ASSERT_TRUE(Eventually([&] { return InQueue("Office", second); }, 2000));
  listing = List("Office", &cursor);
  ASSERT_EQ(listing.jobs.size(), 2u);
  EXPECT_EQ(listing.jobs[0].id, first);
  EXPECT_EQ(listing.jobs[1].id, second);
  EXPECT_EQ(listing.jobs[0].state, JobState::kWaiting) << "held";
  EXPECT_EQ(listing.jobs[0].user, "root");
  EXPECT_EQ(listing.jobs[0].document, "first <&'");
  EXPECT_EQ(listing.jobs[0].pagesPrinted, 0u);

  // The second prints and leaves between two listings: told once, ended,
  // with its final pages (two copies of two).
  Shell("lp -i " + std::to_string(second) + " -H resume");
  ASSERT_TRUE(Eventually([&] { return !InQueue("Office", second); }, 20000));
  listing = List("Office", &cursor);
  ASSERT_EQ(listing.status, SpoolStatus::kOk);
  ASSERT_NE(listing.Find(second, JobState::kEnded), nullptr);
  EXPECT_EQ(listing.Find(second, JobState::kEnded)->pagesPrinted, 4u);
  EXPECT_EQ(listing.Find(second, JobState::kEnded)->document, "second");
  EXPECT_EQ(PageLog()[second], 4u) << "CUPS counted the same";
  EXPECT_NE(listing.Active(first), nullptr);
  EXPECT_EQ(listing.Ended(), 1);
  EXPECT_EQ(List("Office", &cursor).Ended(), 0) << "told once";

  // A job that came and went entirely between two listings.
  const uint32_t quick = Print("-d Office -t quick", 3);
  ASSERT_TRUE(Eventually([&] { return !InQueue("Office", quick); }, 20000));
  listing = List("Office", &cursor);
  ASSERT_NE(listing.Find(quick, JobState::kEnded), nullptr);
  EXPECT_EQ(listing.Find(quick, JobState::kEnded)->pagesPrinted, 3u);
  EXPECT_EQ(listing.Find(quick, JobState::kEnded)->user, "root");

  // Cancelled while held: ended, no pages.
  Shell("cancel " + std::to_string(first));
  ASSERT_TRUE(Eventually([&] { return !InQueue("Office", first); }, 2000));
  listing = List("Office", &cursor);
  ASSERT_NE(listing.Find(first, JobState::kEnded), nullptr);
  EXPECT_EQ(listing.Find(first, JobState::kEnded)->pagesPrinted, 0u);
  EXPECT_EQ(listing.Ended(), 1);

  // Another watcher of the same queue is told the same, on its own.
  std::unique_ptr<JobCursor> other;
  ASSERT_EQ(List("\\\\" + ThisComputerName() + "\\Office", &other).status, SpoolStatus::kOk);
  const uint32_t shared = Print("-d Office -t shared", 1);
  ASSERT_TRUE(Eventually([&] { return !InQueue("Office", shared); }, 20000));
  EXPECT_NE(List("Office", &cursor).Find(shared, JobState::kEnded), nullptr);
  listing = List("\\\\" + ThisComputerName() + "\\Office", &other);
  EXPECT_NE(listing.Find(shared, JobState::kEnded), nullptr);
  EXPECT_EQ(listing.Ended(), 1);
}

TEST(CupsSpooler, APrintingJobIsToldPrintingAndCancelledKeepsItsPages) {
  std::unique_ptr<JobCursor> cursor;
  ASSERT_EQ(List("Office", &cursor).status, SpoolStatus::kOk);
  // 20 pages at 0.3 s a page keep it printing for six seconds.
  const uint32_t id = Print("-d Office -t long", 20);
  ASSERT_NE(id, 0u);
  Listing listing;
  ASSERT_TRUE(Eventually(
      [&] {
        listing = List("Office", &cursor);
        const SpoolJob* job = listing.Find(id, JobState::kPrinting);
        return job != nullptr && job->pagesPrinted.value_or(0) > 0;
      },
      10000));
  Shell("cancel " + std::to_string(id));
  ASSERT_TRUE(Eventually([&] { return !InQueue("Office", id); }, 10000));
  listing = List("Office", &cursor);
  const SpoolJob* ended = listing.Find(id, JobState::kEnded);
  ASSERT_NE(ended, nullptr);
  EXPECT_EQ(ended->pagesPrinted, PageLog()[id]) << "the pages CUPS counted before the cancel";
}

// The counter rises by exactly what the jobs of the listing that follows
// it printed, while several jobs print at once.
TEST(CupsSpooler, TheCounterIsNeverAheadOfTheJobsListedAfterIt) {
  std::unique_ptr<JobCursor> cursor;
  const uint32_t start = Total("Office");
  ASSERT_EQ(List("Office", &cursor).status, SpoolStatus::kOk);
  std::map<uint32_t, uint32_t> pages;  // the latest count of each job
  std::vector<uint32_t> ids = {Print("-d Office -t a", 2), Print("-d Office -n 2 -t b", 3),
                               Print("-d Office -t c", 1), Print("-d Office -t d", 4)};
  for (uint32_t id : ids) ASSERT_NE(id, 0u);
  int ended = 0;
  const auto until = Clock::now() + std::chrono::seconds(40);
  while (ended < 4 && Clock::now() < until) {
    // The listing takes the counter's fetch only when it follows within the
    // spooler's 10 ms: on a loaded machine a pair further apart is not one
    // the rule covers, and is not judged by it.
    const auto read = Clock::now();
    const uint32_t total = Total("Office");
    const Listing listing = List("Office", &cursor);
    const bool paired = Clock::now() - read < std::chrono::milliseconds(10);
    ASSERT_EQ(listing.status, SpoolStatus::kOk);
    for (const SpoolJob& job : listing.jobs) {
      ASSERT_GE(job.pagesPrinted.value_or(0), pages[job.id]) << "counts only rise";
      pages[job.id] = job.pagesPrinted.value_or(0);
      ended += job.state == JobState::kEnded;
    }
    uint32_t sum = 0;
    for (const auto& [id, count] : pages) sum += count;
    if (paired) ASSERT_EQ(total - start, sum) << "the listing right after a reading has its fetch";
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  EXPECT_EQ(ended, 4);
  const std::map<uint32_t, uint32_t> counted = PageLog();
  for (uint32_t id : ids) EXPECT_EQ(pages[id], counted.at(id)) << "job " << id;
  EXPECT_EQ(Total("Office") - start, 2u + 6u + 1u + 4u);
}

// Also: before the first push a job that came and went unseen is found
// within a second.
// What a watcher started late (or a restarted agent) catches up from: every
// ended job the server keeps, with its final pages and its times, whoever
// looked at it before, oldest first and at most as many as asked for.
TEST(CupsSpooler, TheHistoryTellsEndedJobsWithTheirFinalPagesAndTimes) {
  const uint32_t first = Print("-d Office -t history1", 2);
  const uint32_t second = Print("-d Office -n 2 -t history2", 3);
  ASSERT_TRUE(Eventually([] { return QueueEmpty("Office"); }, 20000));
  std::vector<SpoolJob> ended;
  ASSERT_EQ(PlatformSpooler().ListEndedJobs("Office", 1000, &ended), SpoolStatus::kOk);
  ASSERT_GE(ended.size(), 2u);
  const SpoolJob& last = ended.back();
  EXPECT_EQ(last.id, second);
  EXPECT_EQ(ended[ended.size() - 2].id, first);
  EXPECT_EQ(last.state, JobState::kEnded);
  EXPECT_EQ(last.pagesPrinted, 6u);
  EXPECT_TRUE(last.exactCounts);
  EXPECT_EQ(last.document, "history2");
  ASSERT_TRUE(last.createdAt && last.endedAt);
  EXPECT_GE(std::tie(last.endedAt->year, last.endedAt->month, last.endedAt->day, last.endedAt->hour,
                     last.endedAt->minute, last.endedAt->second),
            std::tie(last.createdAt->year, last.createdAt->month, last.createdAt->day,
                     last.createdAt->hour, last.createdAt->minute, last.createdAt->second));
  ASSERT_EQ(PlatformSpooler().ListEndedJobs("Office", 1, &ended), SpoolStatus::kOk);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].id, second);
  EXPECT_EQ(PlatformSpooler().ListEndedJobs("NoSuchQueue", 10, &ended), SpoolStatus::kNoQueue);
}

TEST(CupsSpooler, CountsNoPagesOnARawQueue) {
  const uint32_t start = Total("Raw");
  std::unique_ptr<JobCursor> cursor;
  ASSERT_EQ(List("Raw", &cursor).status, SpoolStatus::kOk);
  const uint32_t id = Print("-d Raw -t raw", 3);
  ASSERT_TRUE(Eventually([&] { return !InQueue("Raw", id); }, 20000));
  Listing listing;
  ASSERT_TRUE(Eventually(
      [&] {
        listing = List("Raw", &cursor);
        return listing.Find(id, JobState::kEnded) != nullptr;
      },
      1500));
  EXPECT_EQ(listing.Find(id, JobState::kEnded)->pagesPrinted, 0u);
  EXPECT_EQ(Total("Raw"), start);
}

TEST(CupsSpooler, TheCounterKeepsWhatTheServerForgot) {
  // The scheduler keeps at most CUPS_ENV_MAXJOBS jobs.
  std::unique_ptr<JobCursor> cursor;
  const uint32_t start = Total("Office");
  ASSERT_EQ(List("Office", &cursor).status, SpoolStatus::kOk);
  for (int i = 0; i < 5; ++i) {
    const uint32_t id = Print("-d Office -t forgotten", 1);
    ASSERT_TRUE(Eventually([&] { return !InQueue("Office", id); }, 20000));
    EXPECT_EQ(List("Office", &cursor).Ended(), 1) << i;
    EXPECT_EQ(Total("Office"), start + i + 1) << i;
  }
  const std::string completed = Shell("lpstat -W completed -o Office");
  int listed = 0;
  for (std::size_t at = completed.find("Office-"); at != std::string::npos;
       at = completed.find("Office-", at + 1)) {
    ++listed;
  }
  EXPECT_LE(listed, std::atoi(Env("CUPS_ENV_MAXJOBS").c_str()));
  EXPECT_EQ(Total("Office"), start + 5);
}

// Idle looks are answered without a request; a new job, and a job cancelled
// before it printed (which CUPS announces to nobody), are seen at once.
void WatchIdleQueue(const std::string& printer) {
  ASSERT_TRUE(Eventually([] { return QueueEmpty("Office"); }, 20000));
  std::unique_ptr<JobCursor> cursor;
  // A watcher: only one that waits on changes is subscribed.
  Spooler& spooler = PlatformSpooler();
  std::unique_ptr<Signal> changed = PlatformClock().NewSignal();
  spooler.AddChangeSignal(printer, changed.get());
  // Long enough for the subscription and its first push.
  for (int i = 0; i < 75; ++i) {
    List(printer, &cursor);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const int before = GetJobsRequests();
  // A look that outruns its time budget on a loaded machine fails and is
  // simply repeated at the next one; more than a few would be a fault.
  int failed = 0;
  for (int i = 0; i < 100; ++i) {
    failed += List(printer, &cursor).status != SpoolStatus::kOk;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_LE(failed, 3);
  const int asked = GetJobsRequests() - before;
  EXPECT_LE(asked, 5) << "100 looks in 2 s asked the server " << asked << " times";

  // A watcher may sleep through the looks of an idle queue: the push of the
  // new job wakes it.
  changed->Reset();
  List(printer, &cursor);
  const uint32_t quiet = spooler.QuietMs(printer);
  EXPECT_GT(quiet, 0u);
  EXPECT_LE(quiet, 30000u) << "an idle queue is still asked twice a minute";
  EXPECT_FALSE(changed->Wait(0));

  const uint32_t id = Print("-d Office -H hold -t watched", 1);
  const auto printed = Clock::now();
  EXPECT_TRUE(changed->Wait(1000));
  EXPECT_LT(Clock::now() - printed, std::chrono::milliseconds(100)) << "pushed at once";
  EXPECT_EQ(spooler.QuietMs(printer), 0u) << "a push since the last fetch";
  ASSERT_TRUE(Eventually([&] { return List(printer, &cursor).Active(id) != nullptr; }, 1000));
  EXPECT_LT(Clock::now() - printed, std::chrono::milliseconds(100));
  EXPECT_EQ(spooler.QuietMs(printer), 0u) << "a queue with jobs is looked at every time";
  spooler.RemoveChangeSignal(printer, changed.get());
  Shell("cancel " + std::to_string(id));
  const auto cancelled = Clock::now();
  Listing listing;
  ASSERT_TRUE(Eventually(
      [&] {
        listing = List(printer, &cursor);
        return listing.Active(id) == nullptr;
      },
      1000));
  EXPECT_LT(Clock::now() - cancelled, std::chrono::milliseconds(100));
  EXPECT_NE(listing.Find(id, JobState::kEnded), nullptr);
}

TEST(CupsSpooler, LooksAtTheLocalServerCostItNothingAndMissNothing) { WatchIdleQueue("Office"); }

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
      EXPECT_EQ(Look(printer).status, SpoolStatus::kUnavailable) << printer;
      EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kCupsCallBudgetMs + 150))
          << printer;
    }
  }
  // The silent server is not asked again at once.
  const auto start = Clock::now();
  uint32_t total = 0;
  EXPECT_EQ(PlatformSpooler().ReadPageTotal(names[2], &total), SpoolStatus::kUnavailable);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
}

// Last: the scheduler is another process afterwards.
TEST(CupsSpooler, ZzTheCounterAndTheCursorOutliveARestartOfTheScheduler) {
  std::unique_ptr<JobCursor> cursor;
  ASSERT_EQ(List("Office", &cursor).status, SpoolStatus::kOk);
  const uint32_t done = Print("-d Office -t done", 2);
  ASSERT_TRUE(Eventually([&] { return !InQueue("Office", done); }, 20000));
  const uint32_t before = Total("Office");
  // Held over the restart.
  const uint32_t held = Print("-d Office -H hold -t held", 3);
  ASSERT_TRUE(Eventually([&] { return InQueue("Office", held); }, 2000));
  Listing listing = List("Office", &cursor);
  ASSERT_NE(listing.Active(held), nullptr);
  ASSERT_NE(listing.Find(done, JobState::kEnded), nullptr);

  ASSERT_TRUE(RestartScheduler());
  uint32_t total = 0;
  ASSERT_TRUE(Eventually(
      [&] { return PlatformSpooler().ReadPageTotal("Office", &total) == SpoolStatus::kOk; }, 5000));
  EXPECT_EQ(total, before) << "the restart changes no count";
  listing = List("Office", &cursor);
  ASSERT_EQ(listing.status, SpoolStatus::kOk);
  ASSERT_NE(listing.Active(held), nullptr);
  EXPECT_EQ(listing.Ended(), 0) << "the job before the restart was told before it";

  Shell("lp -i " + std::to_string(held) + " -H resume");
  ASSERT_TRUE(Eventually([&] { return !InQueue("Office", held); }, 20000));
  listing = List("Office", &cursor);
  ASSERT_NE(listing.Find(held, JobState::kEnded), nullptr);
  EXPECT_EQ(listing.Find(held, JobState::kEnded)->pagesPrinted, 3u);
  EXPECT_EQ(Total("Office"), before + 3);
}

}  // namespace
}  // namespace pelko
