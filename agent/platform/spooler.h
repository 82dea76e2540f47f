// Print spooler service: what a printer thread needs of a queue. The jobs
// in it, with the pages each has printed, and those that ended since the
// watcher's last look; the queue's page counter; and a way to sleep while an
// idle queue does not change. On Win32 it is the spooler's EnumJobsA, its
// change notifications and PDH's "Print Queue" counters; on POSIX the queues
// are CUPS queues: a name "Office" is the queue Office of the default
// server, "\\host\Office" the queue Office on the server host.
//
// Safe for concurrent use from any thread; a cursor belongs to one watcher.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/platform/clock.h"

namespace pelko {

// What became of a spooler call.
enum class SpoolStatus {
  kOk,
  kNoQueue,      // the spooler has no such queue, or the name is none
  kUnavailable,  // the spooler (or the server of a remote queue) does not answer
  kFailed,       // any other failure: refused, out of memory, a damaged answer
};

enum class JobState {
  kWaiting,   // in the queue, not printing (also held or paused)
  kPrinting,  // being printed now
  kEnded,     // left the queue: printed, cancelled or aborted
};

// How a job asked to be printed, as the spooler tells of it; empty or 0
// where it does not say.
struct JobDetails {
  uint32_t copies = 0;
  // IPP's keywords on both platforms: "one-sided", "two-sided-long-edge",
  // "two-sided-short-edge".
  std::string sides;
  // The paper's name as the spooler gives it ("A4", "iso_a3_297x420mm",
  // "Letter"), and its size in hundredths of a millimetre where given.
  std::string paper;
  uint32_t paperWidth = 0;
  uint32_t paperLength = 0;
  // "color" or "monochrome" (IPP's print-color-mode, Windows's dmColor);
  // empty where the job leaves it to the printer.
  std::string colorMode;
  std::string client;  // the machine the job came from
  uint64_t sizeBytes = 0;
  // Whether the queue's printer can print colour at all; none: unknown.
  std::optional<bool> printerColor;

  bool operator==(const JobDetails&) const = default;
};

// One job as the spooler tells of it.
struct SpoolJob {
  uint32_t id = 0;
  std::optional<std::string> user;  // none where the spooler gives none
  std::optional<std::string> document;
  JobState state = JobState::kWaiting;
  // The pages (impressions, copies included) the spooler says the job has
  // printed so far; final once the job has ended. None where the spooler
  // or its driver does not count them per job.
  std::optional<uint32_t> pagesPrinted;
  // The spooler gives this job's own final count once it has ended (CUPS's
  // job history): an ended job's pagesPrinted is then its entry, whatever
  // the queue's counter showed in between, and the counter's pages wait for
  // the counts that claim them rather than go to the job last printing.
  bool exactCounts = false;
  // When the job was made and when it ended, in local time, where the
  // spooler keeps them (CUPS's job history).
  std::optional<LocalTime> createdAt;
  std::optional<LocalTime> endedAt;
  // When the spooler took the job, by the spooler's own clock, in seconds
  // since 1970 (UTC); 0 where it does not say. With the id it tells this
  // job from an earlier one under the same id (a spooler that numbers from
  // 1 again), and no clock of the agent's can move it.
  int64_t submittedAt = 0;
  JobDetails details;
  // The job is still being sent: the spooler holds none or not all of its
  // documents yet, so there is nothing whole to measure.
  bool documentsIncoming = false;
};

// What one watcher of a queue carries from one listing to the next, so that
// the spooler can tell it which jobs ended in between. Made by the spooler
// at the first listing; one per watcher, never shared between threads.
class JobCursor {
 public:
  virtual ~JobCursor() = default;
};

class Spooler {
 public:
  virtual ~Spooler() = default;

  // The jobs of the named queue: first those in it now, in the spooler's
  // order, then every job that has left it since the previous listing with
  // this cursor (kEnded, with its final pages), each told once. This
  // includes a job that came and went between the two listings. A null
  // cursor starts a new one, from now: it tells no ended jobs. On anything
  // but kOk, jobs is empty and the cursor is left as it was.
  virtual SpoolStatus ListJobs(const std::string& queue, std::unique_ptr<JobCursor>* cursor,
                               std::vector<SpoolJob>* jobs) = 0;
  // The queue's page counter: the pages printed on the queue, rising by
  // each page as it is printed. It may fall when the spooler restarts.
  virtual SpoolStatus ReadPageTotal(const std::string& queue, uint32_t* total) = 0;

  // The ended jobs the spooler still keeps of the queue, each with its
  // final pages and the times it was made and ended, oldest first; at most
  // `limit`, the newest. What it tells no matter when anyone looked, so the
  // jobs that ended while the agent was not watching can be entered. None
  // where the spooler keeps no such history (Windows forgets a job as it
  // leaves the queue).
  virtual bool KeepsEndedJobs() const { return false; }
  virtual SpoolStatus ListEndedJobs(const std::string& /*queue*/, std::size_t /*limit*/,
                                    std::vector<SpoolJob>* jobs) {
    jobs->clear();
    return SpoolStatus::kOk;
  }

  // Let the watcher of an idle queue sleep through looks whose answer is
  // already known, where the spooler is told of every change.
  // Until removed, `changed` is set whenever the named queue may have
  // changed. Removing one that was never added does nothing.
  virtual void AddChangeSignal(const std::string& /*name*/, Signal* /*changed*/) {}
  virtual void RemoveChangeSignal(const std::string& /*name*/, Signal* /*changed*/) {}
  // How long, in ms, the last job list of the named queue stays its answer
  // unless a change signal of the queue is set first; 0 where the spooler
  // cannot promise that (look again at the next tick).
  virtual uint32_t QuietMs(const std::string& /*name*/) { return 0; }

  // The encoding of the names the spooler gives (users, documents, paper,
  // clients): UTF-8 where the logs begun now are (LogUtf8), else
  // windows-1252, "?" for what it cannot hold. The supervisor sets it.
  void SetNamesUtf8(bool utf8) { namesUtf8.store(utf8); }
  bool NamesUtf8() const { return namesUtf8.load(); }

 private:
  std::atomic<bool> namesUtf8{false};
};

Spooler& PlatformSpooler();

}  // namespace pelko
