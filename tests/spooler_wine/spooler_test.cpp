// The Windows spooler on the stand-in winspool.drv and pdh.dll beside this
// program (Wine's own have no queues): listings with each job's pages,
// ended jobs told once (also those that came and went between two
// listings, through the notifications' job fields), the queue's page
// counter, and idle queues vouched for until a job changes.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "agent/logs/log_locks.h"
#include "agent/monitor/printer_thread.h"
#include "agent/platform/clock.h"
#include "agent/platform/env.h"
#include "agent/platform/spooler.h"
#include "agent/platform/system_info.h"
#include "agent/platform/win32/spooler/job_journal.h"
#include "agent/platform/win32/spooler/job_listing.h"
#include "tests/fakes/fake_files.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_system_info.h"

namespace pelko {
namespace {

using SteadyClock = std::chrono::steady_clock;

template <typename Function>
Function Export(const char* module, const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(module), name)));
}

struct StandIn {
  bool Loaded() const {
    return setJobs && addJob && printPages && endJob && setStatus && flashJob && discardNext &&
           growOnce && countPages && setSilent && refuse && enumerations && restart && lastPath &&
           openQueries && addDetailed && setColorDevice && getJobs && capabilityQueries;
  }
  void (*setJobs)(const char*, DWORD) = Export<decltype(setJobs)>("winspool.drv", "StandInSetJobs");
  DWORD (*addJob)
  (const char*, const char*, const char*) = Export<decltype(addJob)>("winspool.drv",
                                                                     "StandInAddJob");
  void (*printPages)(const char*, DWORD, DWORD) = Export<decltype(printPages)>("winspool.drv",
                                                                               "StandInPrintPages");
  void (*endJob)(const char*, DWORD) = Export<decltype(endJob)>("winspool.drv", "StandInEndJob");
  void (*setStatus)(const char*, DWORD, DWORD) = Export<decltype(setStatus)>("winspool.drv",
                                                                             "StandInSetStatus");
  DWORD (*flashJob)
  (const char*, const char*, const char*, DWORD) = Export<decltype(flashJob)>("winspool.drv",
                                                                              "StandInFlashJob");
  void (*discardNext)(const char*) = Export<decltype(discardNext)>("winspool.drv",
                                                                   "StandInDiscardNext");
  void (*growOnce)(const char*) = Export<decltype(growOnce)>("winspool.drv", "StandInGrowOnce");
  void (*countPages)(const char*, BOOL) = Export<decltype(countPages)>("winspool.drv",
                                                                       "StandInCountPages");
  void (*setSilent)(const char*, BOOL) = Export<decltype(setSilent)>("winspool.drv",
                                                                     "StandInSetSilent");
  void (*refuse)(const char*) = Export<decltype(refuse)>("winspool.drv",
                                                         "StandInRefuseNotifications");
  long (*enumerations)(const char*) = Export<decltype(enumerations)>("winspool.drv",
                                                                     "StandInEnumerations");
  void (*restart)(DWORD) = Export<decltype(restart)>("winspool.drv", "StandInRestart");
  void (*lastPath)(char*, DWORD) = Export<decltype(lastPath)>("pdh.dll", "StandInPdhLastPath");
  DWORD (*openQueries)() = Export<decltype(openQueries)>("pdh.dll", "StandInPdhOpenQueries");
  DWORD (*addDetailed)
  (const char*, const char*, const char*, DWORD,
   const char*) = Export<decltype(addDetailed)>("winspool.drv", "StandInAddDetailedJob");
  void (*setColorDevice)(const char*,
                         int) = Export<decltype(setColorDevice)>("winspool.drv",
                                                                 "StandInSetColorDevice");
  long (*getJobs)(const char*) = Export<decltype(getJobs)>("winspool.drv", "StandInGetJobs");
  long (*capabilityQueries)(const char*) =
      Export<decltype(capabilityQueries)>("winspool.drv", "StandInCapabilityQueries");
};

std::string Describe(const SpoolJob& job) {
  const char* state = job.state == JobState::kPrinting ? "printing"
                      : job.state == JobState::kEnded  ? "ended"
                                                       : "waiting";
  return std::to_string(job.id) + " " + job.user.value_or("-") + " " + job.document.value_or("-") +
         " " + state + " " + (job.pagesPrinted ? std::to_string(*job.pagesPrinted) : "?");
}

std::string Describe(const JobDetails& details) {
  const std::string color = !details.printerColor   ? "unknown"
                            : *details.printerColor ? "colour printer"
                                                    : "mono printer";
  return std::to_string(details.copies) + "|" + details.colorMode + "|" + details.sides + "|" +
         details.paper + "|" + std::to_string(details.paperWidth) + "x" +
         std::to_string(details.paperLength) + "|" + details.client + "|" +
         std::to_string(details.sizeBytes) + "|" + color;
}

class Win32Spooler : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(standIn.Loaded()) << "the stand-in winspool.drv and pdh.dll";
    // Every case has queues of its own: the spooler is one for the process.
    queue = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override { spooler.RemoveChangeSignal(queue, changed.get()); }

  // One listing with the test's cursor, described job by job.
  std::vector<std::string> List(bool details = false) {
    std::vector<SpoolJob> jobs;
    EXPECT_EQ(spooler.ListJobs(queue, &cursor, &jobs), SpoolStatus::kOk);
    std::vector<std::string> described;
    for (const SpoolJob& job : jobs) {
      described.push_back(details ? Id(job.id) + " " + Describe(job.details) : Describe(job));
    }
    return described;
  }
  void Watch() { spooler.AddChangeSignal(queue, changed.get()); }
  // Waits for the watcher to have taken in every notification so far.
  void AwaitChange() {
    ASSERT_TRUE(changed->Wait(2000));
    do {
      changed->Reset();
    } while (changed->Wait(100));
  }
  std::string Id(DWORD id) { return std::to_string(id); }

  StandIn standIn;
  Spooler& spooler = PlatformSpooler();
  std::unique_ptr<Signal> changed = PlatformClock().NewSignal();
  std::string queue;
  std::unique_ptr<JobCursor> cursor;
};

using Jobs = std::vector<std::string>;

TEST_F(Win32Spooler, ListsJobsInOrderAndTellsEndedOnesOnce) {
  const DWORD first = standIn.addJob(queue.c_str(), "alice", "report.pdf");
  const DWORD second = standIn.addJob(queue.c_str(), "bob", "memo.txt");
  // No job has told a page yet: the driver may not count them.
  EXPECT_EQ(List(), (Jobs{Id(first) + " alice report.pdf waiting ?",
                          Id(second) + " bob memo.txt waiting ?"}));
  standIn.printPages(queue.c_str(), first, 2);
  EXPECT_EQ(List(), (Jobs{Id(first) + " alice report.pdf printing 2",
                          Id(second) + " bob memo.txt waiting 0"}));
  standIn.printPages(queue.c_str(), first, 1);
  standIn.endJob(queue.c_str(), first);
  standIn.printPages(queue.c_str(), second, 1);
  EXPECT_EQ(List(), (Jobs{Id(second) + " bob memo.txt printing 1",
                          Id(first) + " alice report.pdf ended 2"}))
      << "no notifications: its last listing's pages";
  EXPECT_EQ(List(), (Jobs{Id(second) + " bob memo.txt printing 1"})) << "told once";

  // A new cursor starts from now.
  standIn.endJob(queue.c_str(), second);
  cursor.reset();
  EXPECT_EQ(List(), Jobs{});
  EXPECT_EQ(List(), Jobs{});
}

TEST_F(Win32Spooler, NotificationsTellTheFinalFieldsAndJobsThatCameAndWent) {
  Watch();
  const DWORD kept = standIn.addJob(queue.c_str(), "alice", "long.pdf");
  AwaitChange();
  EXPECT_EQ(List(), (Jobs{Id(kept) + " alice long.pdf waiting ?"}));

  // Between two listings: the kept job prints its last pages and leaves,
  // and another comes, prints and goes.
  standIn.printPages(queue.c_str(), kept, 4);
  standIn.endJob(queue.c_str(), kept);
  const DWORD flash = standIn.flashJob(queue.c_str(), "carol", "flash.doc", 3);
  AwaitChange();
  EXPECT_EQ(List(),
            (Jobs{Id(kept) + " alice long.pdf ended 4", Id(flash) + " carol flash.doc ended 3"}));
  EXPECT_EQ(List(), Jobs{}) << "told once";
  EXPECT_EQ(List(), Jobs{});

  // A job finished but kept in the queue by the spooler ends too, once.
  const DWORD printed = standIn.addJob(queue.c_str(), "dave", "kept.ps");
  standIn.printPages(queue.c_str(), printed, 1);
  AwaitChange();
  EXPECT_EQ(List(), (Jobs{Id(printed) + " dave kept.ps printing 1"}));
  standIn.setStatus(queue.c_str(), printed, kWinJobPrinted);
  AwaitChange();
  EXPECT_EQ(List(), (Jobs{Id(printed) + " dave kept.ps ended 1"}));
  EXPECT_EQ(List(), Jobs{});
  standIn.endJob(queue.c_str(), printed);
  AwaitChange();
  EXPECT_EQ(List(), Jobs{}) << "its leaving is no news";
}

// Where the spooler had to drop notifications it is asked for every job
// afresh: a job it then still held is known even if it leaves silently.
TEST_F(Win32Spooler, DiscardedNotificationsAreReadAfresh) {
  Watch();
  EXPECT_EQ(List(), Jobs{});
  const DWORD job = standIn.addJob(queue.c_str(), "erin", "lost.pdf");
  standIn.printPages(queue.c_str(), job, 2);
  standIn.discardNext(queue.c_str());
  AwaitChange();
  standIn.setSilent(queue.c_str(), TRUE);
  standIn.endJob(queue.c_str(), job);
  EXPECT_EQ(List(), (Jobs{Id(job) + " erin lost.pdf ended 2"}));
  standIn.setSilent(queue.c_str(), FALSE);
}

// A spooler that sends no job fields: while the queue has jobs the watcher
// lists it itself, so a job that lived only between two of the worker's
// listings is still told.
TEST_F(Win32Spooler, WithoutJobFieldsTheWatcherJournalsABusyQueue) {
  standIn.refuse(queue.c_str());
  Watch();
  const DWORD waiting = standIn.addJob(queue.c_str(), "kim", "long.pdf");
  EXPECT_EQ(List(), (Jobs{Id(waiting) + " kim long.pdf waiting ?"}));
  const DWORD brief = standIn.addJob(queue.c_str(), "lee", "short.pdf");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  standIn.printPages(queue.c_str(), brief, 2);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  standIn.endJob(queue.c_str(), brief);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(List(),
            (Jobs{Id(waiting) + " kim long.pdf waiting 0", Id(brief) + " lee short.pdf ended 2"}));
  standIn.endJob(queue.c_str(), waiting);
  EXPECT_EQ(List(), (Jobs{Id(waiting) + " kim long.pdf ended 0"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a listing under way
  const long idle = standIn.enumerations(queue.c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(standIn.enumerations(queue.c_str()), idle) << "an empty queue is not listed";
}

// How each job asked to be printed, read once per job from its JOB_INFO_2
// and kept when it ends, or from the notification of a job never listed;
// the printer's colour capability asked once for many listings.
TEST_F(Win32Spooler, EachJobTellsHowItAskedToBePrinted) {
  Watch();
  const DWORD mono = standIn.addDetailed(queue.c_str(), "ann", "a.pdf", 6,
                                         "copies=3 color=1 duplex=2 paper=9 form=A4 "
                                         "machine=\\\\PC-12 size=123456");
  const DWORD bare =
      standIn.addDetailed(queue.c_str(), "bob", "b.txt", 1, "devmode=none machine=PC-7");
  const DWORD custom = standIn.addDetailed(queue.c_str(), "cy", "c.ps", 1,
                                           "color=2 duplex=3 paper=256 form=Receipt width=800 "
                                           "length=2000");
  // A DEVMODE whose dmSize says it runs past the spooler's answer.
  const DWORD damaged = standIn.addDetailed(queue.c_str(), "di", "d.ps", 1,
                                            "copies=2 color=2 dmsize=4000 machine=PC-8 size=9");
  AwaitChange();
  const Jobs listed{
      Id(mono) + " 3|monochrome|two-sided-long-edge|A4|21000x29700|PC-12|123456|colour printer",
      Id(bare) + " 0||||0x0|PC-7|0|colour printer",
      Id(custom) + " 0|color|two-sided-short-edge|Receipt|8000x20000||0|colour printer",
      Id(damaged) + " 0||||0x0|PC-8|9|colour printer"};
  EXPECT_EQ(List(true), listed);
  EXPECT_EQ(List(true), listed);
  EXPECT_EQ(standIn.getJobs(queue.c_str()), 4) << "once per job, not per listing";
  EXPECT_EQ(standIn.capabilityQueries(queue.c_str()), 1);

  standIn.printPages(queue.c_str(), mono, 6);
  standIn.endJob(queue.c_str(), mono);
  standIn.endJob(queue.c_str(), bare);
  standIn.endJob(queue.c_str(), custom);
  standIn.endJob(queue.c_str(), damaged);
  AwaitChange();
  EXPECT_EQ(List(true), listed) << "ended, with the details listed";
  // One that came and went between two listings: from its notification.
  const DWORD gone = standIn.addDetailed(queue.c_str(), "gil", "g.pdf", 1,
                                         "copies=2 color=1 paper=11 machine=\\\\PC-3");
  standIn.printPages(queue.c_str(), gone, 1);
  standIn.endJob(queue.c_str(), gone);
  AwaitChange();
  EXPECT_EQ(List(true), (Jobs{Id(gone) + " 2|monochrome||A5|14800x21000|PC-3|0|colour printer"}));
  EXPECT_EQ(standIn.getJobs(queue.c_str()), 4);

  // The printer's driver changed: its answer is kept a while.
  standIn.setColorDevice(queue.c_str(), 0);
  const DWORD later = standIn.addDetailed(queue.c_str(), "dee", "d.pdf", 1, "copies=1 paper=8");
  AwaitChange();
  EXPECT_EQ(List(true), (Jobs{Id(later) + " 1|||A3|29700x42000||0|colour printer"}));
  EXPECT_EQ(standIn.getJobs(queue.c_str()), 5);
  standIn.endJob(queue.c_str(), later);

  const std::string other = queue + "Mono";
  std::unique_ptr<JobCursor> otherCursor;
  std::vector<SpoolJob> jobs;
  standIn.setColorDevice(other.c_str(), 0);
  standIn.addDetailed(other.c_str(), "eve", "e.pdf", 1, "color=2");
  ASSERT_EQ(spooler.ListJobs(other, &otherCursor, &jobs), SpoolStatus::kOk);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].details.printerColor, false);
  EXPECT_EQ(jobs[0].details.colorMode, "color") << "as asked, whatever the printer makes of it";
  standIn.setColorDevice(other.c_str(), -1);
  const std::string unknown = queue + "Unknown";
  standIn.setColorDevice(unknown.c_str(), -1);
  standIn.addDetailed(unknown.c_str(), "fay", "f.pdf", 1, "");
  otherCursor.reset();
  ASSERT_EQ(spooler.ListJobs(unknown, &otherCursor, &jobs), SpoolStatus::kOk);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].details.printerColor, std::nullopt);
}

TEST_F(Win32Spooler, DriverWithoutPerJobPagesTellsNone) {
  Watch();
  standIn.countPages(queue.c_str(), FALSE);
  const DWORD job = standIn.addJob(queue.c_str(), "frank", "plain.txt");
  EXPECT_EQ(List(), (Jobs{Id(job) + " frank plain.txt waiting ?"}));
  standIn.printPages(queue.c_str(), job, 3);
  EXPECT_EQ(List(), (Jobs{Id(job) + " frank plain.txt printing ?"}));
  standIn.endJob(queue.c_str(), job);
  AwaitChange();
  EXPECT_EQ(List(), (Jobs{Id(job) + " frank plain.txt ended ?"}));
  uint32_t total = 0;
  ASSERT_EQ(spooler.ReadPageTotal(queue, &total), SpoolStatus::kOk);
  EXPECT_EQ(total, 3u) << "the queue's counter still counts";
}

TEST_F(Win32Spooler, ListThatGrowsAfterTheSizeQueryIsAskedAgain) {
  standIn.addJob(queue.c_str(), "gina", "one.pdf");
  standIn.growOnce(queue.c_str());
  const long before = standIn.enumerations(queue.c_str());
  EXPECT_EQ(List().size(), 2u);
  EXPECT_EQ(standIn.enumerations(queue.c_str()) - before, 3) << "size, too small, size again";
}

TEST_F(Win32Spooler, MissingQueueFailsAndLeavesTheCursor) {
  std::vector<SpoolJob> jobs{SpoolJob{}};
  EXPECT_EQ(spooler.ListJobs("MissingQueue", &cursor, &jobs), SpoolStatus::kNoQueue);
  EXPECT_TRUE(jobs.empty());
  EXPECT_TRUE(cursor == nullptr);
  EXPECT_EQ(spooler.ListJobs("", &cursor, &jobs), SpoolStatus::kNoQueue);
  uint32_t total = 7;
  EXPECT_EQ(spooler.ReadPageTotal("MissingQueue", &total), SpoolStatus::kNoQueue);
  EXPECT_EQ(total, 7u);
}

TEST_F(Win32Spooler, PageTotalReadsTheQueuesCounter) {
  char computer[16] = {};
  uint32_t size = sizeof computer;
  ASSERT_EQ(PlatformSystemInfo().GetComputerNameA(computer, &size), 0u);
  char path[512] = {};
  uint32_t total = 99;
  ASSERT_EQ(spooler.ReadPageTotal(queue, &total), SpoolStatus::kOk);
  EXPECT_EQ(total, 0u);
  standIn.lastPath(path, sizeof path);
  EXPECT_EQ(std::string(path),
            "\\\\" + std::string(computer) + "\\Print Queue(" + queue + ")\\Total Pages Printed");

  const DWORD job = standIn.addJob(queue.c_str(), "hal", "a.pdf");
  standIn.printPages(queue.c_str(), job, 5);
  ASSERT_EQ(spooler.ReadPageTotal(queue, &total), SpoolStatus::kOk);
  EXPECT_EQ(total, 5u);
  EXPECT_EQ(standIn.openQueries(), 0u) << "closed between readings";

  // A queue on a server: the counter is the server's.
  const std::string remote = "\\\\server\\" + queue;
  ASSERT_EQ(spooler.ReadPageTotal(remote, &total), SpoolStatus::kOk);
  standIn.lastPath(path, sizeof path);
  EXPECT_EQ(std::string(path), "\\\\server\\Print Queue(" + queue + ")\\Total Pages Printed");
}

TEST_F(Win32Spooler, IdleQueueIsVouchedForUntilAJobChanges) {
  Watch();
  ASSERT_EQ(List(), Jobs{});
  const uint32_t quiet = spooler.QuietMs(queue);
  EXPECT_GT(quiet, 0u);
  EXPECT_LE(quiet, 1000u) << "looked at again once a second";
  EXPECT_FALSE(changed->Wait(0));

  standIn.setJobs(queue.c_str(), 1);
  const auto added = SteadyClock::now();
  ASSERT_TRUE(changed->Wait(1000));
  EXPECT_LT(SteadyClock::now() - added, std::chrono::milliseconds(100));
  EXPECT_EQ(spooler.QuietMs(queue), 0u) << "a change since the last look";
  changed->Reset();
  EXPECT_EQ(List().size(), 1u);
  EXPECT_EQ(spooler.QuietMs(queue), 0u) << "a queue with jobs is looked at every tick";

  standIn.setJobs(queue.c_str(), 0);
  AwaitChange();
  EXPECT_EQ(List().size(), 1u) << "the job that ended";
  EXPECT_GT(spooler.QuietMs(queue), 0u);

  spooler.RemoveChangeSignal(queue, changed.get());
  standIn.setJobs(queue.c_str(), 1);
  EXPECT_FALSE(changed->Wait(200)) << "removed";
  standIn.setJobs(queue.c_str(), 0);
}

TEST_F(Win32Spooler, QueueWithoutNotificationsIsNeverVouchedFor) {
  standIn.refuse(queue.c_str());
  Watch();
  ASSERT_EQ(List(), Jobs{});
  EXPECT_EQ(spooler.QuietMs(queue), 0u);
  EXPECT_EQ(spooler.QuietMs("NeverWatched"), 0u);
  spooler.AddChangeSignal("MissingQueue", changed.get());
  EXPECT_EQ(spooler.QuietMs("MissingQueue"), 0u);
  spooler.RemoveChangeSignal("MissingQueue", changed.get());
}

// A remote spooler that cannot call back: the first job it lists unannounced
// ends the vouching until a notification comes again.
TEST_F(Win32Spooler, UnannouncedJobEndsTheVouchingUntilANotification) {
  Watch();
  ASSERT_EQ(List(), Jobs{});
  ASSERT_GT(spooler.QuietMs(queue), 0u);
  standIn.setSilent(queue.c_str(), TRUE);
  standIn.setJobs(queue.c_str(), 1);
  EXPECT_EQ(List().size(), 1u);
  standIn.setJobs(queue.c_str(), 0);
  EXPECT_EQ(List().size(), 1u) << "the job that ended";
  EXPECT_EQ(spooler.QuietMs(queue), 0u) << "empty, but no longer trusted";
  standIn.setSilent(queue.c_str(), FALSE);
  standIn.setJobs(queue.c_str(), 0);
  standIn.discardNext(queue.c_str());  // a notification with nothing new
  AwaitChange();
  ASSERT_EQ(List(), Jobs{});
  EXPECT_GT(spooler.QuietMs(queue), 0u);
}

// Jobs printing a page at a time while others wait, and jobs that come and
// go at once, on two watched queues looked at every 20 ms with pauses as
// long as a pass: each job is told ended exactly once, with every page it
// printed.
TEST_F(Win32Spooler, EveryJobIsToldEndedOnceWithAllItsPages) {
  const std::vector<std::string> queues{queue + "A", queue + "B"};
  std::vector<std::unique_ptr<Signal>> signals;
  for (const std::string& name : queues) {
    signals.push_back(PlatformClock().NewSignal());
    spooler.AddChangeSignal(name, signals.back().get());
  }
  std::map<DWORD, DWORD> printed;  // by the stand-in, per job
  std::atomic<bool> finished{false};
  auto print = [&] {
    unsigned seed = 12345;
    auto next = [&seed](unsigned range) {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 16) % range;
    };
    for (int round = 0; round < 40; ++round) {
      const char* name = queues[round % 2].c_str();
      if (next(4) == 0) {
        const DWORD pages = 1 + next(3);
        printed[standIn.flashJob(name, "flash", "f.doc", pages)] = pages;
        continue;
      }
      std::vector<DWORD> ids;
      for (unsigned n = 1 + next(3); n > 0; --n) ids.push_back(standIn.addJob(name, "u", "d"));
      for (DWORD id : ids) {
        for (unsigned page = 1 + next(4); page > 0; --page) {
          standIn.printPages(name, id, 1);
          ++printed[id];
          std::this_thread::sleep_for(std::chrono::milliseconds(next(15)));
        }
        standIn.endJob(name, id);
      }
    }
    finished = true;
  };

  std::map<DWORD, uint32_t> told;  // ended jobs' pages
  std::map<DWORD, int> times;
  std::vector<std::unique_ptr<JobCursor>> cursors(queues.size());
  auto look = [&] {
    for (std::size_t q = 0; q < queues.size(); ++q) {
      uint32_t total = 0;
      ASSERT_EQ(spooler.ReadPageTotal(queues[q], &total), SpoolStatus::kOk);
      std::vector<SpoolJob> jobs;
      ASSERT_EQ(spooler.ListJobs(queues[q], &cursors[q], &jobs), SpoolStatus::kOk);
      for (const SpoolJob& job : jobs) {
        if (job.state != JobState::kEnded) continue;
        told[job.id] = job.pagesPrinted.value_or(0);
        ++times[job.id];
      }
    }
  };
  look();  // the cursors start here
  std::thread printer(print);
  for (int tick = 0; tick < 2000 && !finished; ++tick) {
    look();
    std::this_thread::sleep_for(std::chrono::milliseconds(tick % 25 == 0 ? 400 : 20));
  }
  printer.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  look();
  look();

  int exact = 0;
  for (const auto& [id, pages] : printed) {
    exact += told.count(id) != 0 && told[id] == pages && times[id] == 1;
  }
  EXPECT_EQ(exact, static_cast<int>(printed.size())) << "jobs told exactly";
  EXPECT_EQ(told.size(), printed.size());
  for (std::size_t q = 0; q < queues.size(); ++q) {
    spooler.RemoveChangeSignal(queues[q], signals[q].get());
  }
}

int64_t UnixSeconds(const FILETIME& file) {
  return static_cast<int64_t>(((uint64_t{file.dwHighDateTime} << 32) | file.dwLowDateTime) /
                              10000000) -
         11644473600;
}

int64_t UnixNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return UnixSeconds(now);
}

// A spooler restarted numbers its jobs from 1 again: a job under an id the
// watcher has told ended is another job, told with its own fields and its
// own Submitted, here one that came and went between two listings.
TEST_F(Win32Spooler, JobUnderAnEarlierJobsIdIsToldApart) {
  Watch();
  standIn.restart(0);
  const int64_t before = UnixNow();
  const DWORD first = standIn.addJob(queue.c_str(), "juergen", "report.pdf");
  standIn.printPages(queue.c_str(), first, 4);
  AwaitChange();
  std::vector<SpoolJob> jobs;
  ASSERT_EQ(spooler.ListJobs(queue, &cursor, &jobs), SpoolStatus::kOk);
  ASSERT_EQ(jobs.size(), 1u);
  const int64_t submitted = jobs[0].submittedAt;
  EXPECT_GE(submitted, before);
  EXPECT_LE(submitted, UnixNow());
  standIn.endJob(queue.c_str(), first);
  AwaitChange();
  EXPECT_EQ(List(), (Jobs{Id(first) + " juergen report.pdf ended 4"}));

  standIn.restart(60);
  EXPECT_EQ(standIn.flashJob(queue.c_str(), "doris", "plan.xlsx", 2), first);
  AwaitChange();
  ASSERT_EQ(spooler.ListJobs(queue, &cursor, &jobs), SpoolStatus::kOk);
  ASSERT_EQ(jobs.size(), 1u) << "told, though its id was told ended";
  EXPECT_EQ(Describe(jobs[0]), Id(first) + " doris plan.xlsx ended 2") << "nothing of the first";
  EXPECT_GE(jobs[0].submittedAt, submitted + 60) << "from the notification";
}

// Two listings in a row with another job under one id: the first is told
// ended with its last fields, the second is listed; both keep their times.
TEST(Win32JobCursor, AnotherJobUnderAListedIdEndsTheFirst) {
  Win32JobCursor cursor(1);
  std::vector<SpoolJob> jobs;
  TellJobs({SpoolerJobNote{3, "juergen", "a.pdf", kWinJobPrinting, 4, 1000, {}}}, {}, {}, true, 1,
           &cursor, &jobs);
  TellJobs({SpoolerJobNote{3, "doris", "plan.xlsx", 0, 0, 2000, {}}}, {}, {}, true, 1, &cursor,
           &jobs);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(Describe(jobs[0]) + " at " + std::to_string(jobs[0].submittedAt),
            "3 doris plan.xlsx waiting 0 at 2000");
  EXPECT_EQ(Describe(jobs[1]) + " at " + std::to_string(jobs[1].submittedAt),
            "3 juergen a.pdf ended 4 at 1000");
}

// Submitted, a UTC SYSTEMTIME, as Windows's own FILETIME arithmetic has it.
TEST(Win32JobListing, SubmittedIsSecondsSince1970) {
  for (const SYSTEMTIME& time :
       {SYSTEMTIME{1970, 1, 4, 1, 0, 0, 0, 0}, SYSTEMTIME{2024, 2, 4, 29, 23, 59, 59, 999},
        SYSTEMTIME{2038, 1, 2, 19, 3, 14, 8, 0}, SYSTEMTIME{2100, 3, 1, 1, 12, 0, 1, 0}}) {
    FILETIME file;
    ASSERT_TRUE(SystemTimeToFileTime(&time, &file));
    EXPECT_EQ(SubmittedSeconds(time), UnixSeconds(file)) << time.wYear;
  }
  EXPECT_EQ(SubmittedSeconds(SYSTEMTIME{}), 0) << "unset";
  EXPECT_EQ(SubmittedSeconds(SYSTEMTIME{2023, 2, 0, 29, 0, 0, 0, 0}), 0) << "no such day";
}

// The printer thread on the real spooler: idle, it looks about once a
// second; a job is looked at within a tick or two of its notification.
TEST_F(Win32Spooler, PrinterThreadSleepsOnAnIdleQueueAndWakesForAJob) {
  FakeRegistry registry;  // AppIsRunning unset: a pass records nothing
  FakeSystemInfo system;
  FakeFileSystem files;  // where the thread looks for pages left pending
  Env env;
  env.registry = &registry;
  env.files = &files;
  env.clock = &PlatformClock();
  env.threads = &PlatformThreads();
  env.spooler = &spooler;
  env.system = &system;
  LogLocks locks;
  PrinterThread thread(env, locks);
  thread.SetPrinterName(queue);
  thread.Start();

  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long before = standIn.enumerations(queue.c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_LE(standIn.enumerations(queue.c_str()) - before, 3) << "every 20 ms would be 50";

  const long beforeJob = standIn.enumerations(queue.c_str());
  const DWORD job = standIn.addJob(queue.c_str(), "ida", "wake.pdf");
  const auto added = SteadyClock::now();
  while (standIn.enumerations(queue.c_str()) == beforeJob &&
         SteadyClock::now() - added < std::chrono::seconds(2)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_LT(SteadyClock::now() - added, std::chrono::milliseconds(100));

  const auto stopping = SteadyClock::now();
  thread.Stop();
  EXPECT_LT(SteadyClock::now() - stopping, std::chrono::milliseconds(kStopGraceMs / 2));
  standIn.endJob(queue.c_str(), job);
}

// A job's details are asked once, and again for another job under its id
// (a spooler that numbers from 1 again).
TEST(Win32DetailsBook, AsksOncePerJobAndAgainForAnotherUnderItsId) {
  DetailsBook book;
  std::vector<SpoolerJobNote> queued{SpoolerJobNote{3, "ann", "a", 0, 0, 1000, {}},
                                     SpoolerJobNote{4, "bob", "b", 0, 0, 1000, {}}};
  ASSERT_EQ(book.Fill(&queued), (std::vector<uint32_t>{3, 4}));
  JobDetails three;
  three.copies = 3;
  book.Keep(queued[0], three);
  book.Keep(queued[1], JobDetails{});
  EXPECT_EQ(book.Fill(&queued), std::vector<uint32_t>{});
  EXPECT_EQ(queued[0].details, three);

  queued = {SpoolerJobNote{3, "cy", "c", 0, 0, 2000, {}}};
  EXPECT_EQ(book.Fill(&queued), std::vector<uint32_t>{3});
  EXPECT_EQ(queued[0].details, std::nullopt) << "nothing of the earlier job";
  queued = {SpoolerJobNote{4, "bob", "b", 0, 0, 1000, {}}};
  EXPECT_EQ(book.Fill(&queued), std::vector<uint32_t>{4}) << "forgotten once no longer listed";
}

// The watcher may take a job's last notification in only after a listing
// told the job ended: it is not told again, and not forgotten too early.
TEST(Win32JobCursor, LateNewsOfAnEndedJobIsNotToldAgain) {
  Win32JobCursor cursor(1);
  std::vector<SpoolJob> jobs;
  const std::vector<SpoolerJobNote> printing{
      SpoolerJobNote{7, "ann", "a.pdf", kWinJobPrinting, 2, 0, {}}};
  TellJobs(printing, {}, {}, true, 1, &cursor, &jobs);
  ASSERT_EQ(jobs.size(), 1u);
  TellJobs({}, {}, {}, true, 1, &cursor, &jobs);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].state, JobState::kEnded);
  EXPECT_EQ(jobs[0].pagesPrinted, 2u);

  for (int listing = 0; listing < 3; ++listing) {
    TellJobs({}, {}, {}, true, 1, &cursor, &jobs);
    ASSERT_TRUE(jobs.empty());
  }
  JobJournal journal;
  journal.Learn(5, SpoolerJobNote{7, {}, {}, kWinJobPrinted | kWinJobDeleted, 3, 0, {}});
  std::map<uint32_t, SpoolerJobNote> news;
  std::vector<uint32_t> before;
  journal.Read(cursor.position, 6, &news, &before);
  ASSERT_EQ(before, std::vector<uint32_t>{7});
  TellJobs({}, news, before, true, 6, &cursor, &jobs);
  EXPECT_TRUE(jobs.empty());
}

}  // namespace
}  // namespace pelko
