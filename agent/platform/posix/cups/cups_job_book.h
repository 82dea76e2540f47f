// What the CUPS spooler knows of one queue's jobs between two fetches: the
// jobs in it, the jobs that ended since it began watching (each once, in the
// order learnt, for the listings of every watcher), and the queue's page
// counter. CUPS keeps no page counter per queue, only each job's
// job-impressions-completed, so the counter is built here from those. No
// locking: the spooler holds its queue's lock around every call.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "agent/platform/spooler.h"

namespace pelko {

// One job as a Get-Jobs answer gives it.
struct CupsJob {
  uint32_t id = 0;
  std::string uuid;  // empty where CUPS gives none
  std::optional<std::string> user;
  std::optional<std::string> title;
  int state = 0;          // ipp_jstate_t
  uint32_t pages = 0;     // job-impressions-completed
  int64_t createdAt = 0;  // time-at-creation, seconds since 1970; 0: none given
  int64_t endedAt = 0;    // time-at-completed
  JobDetails details;     // printerColor is the queue's, not the job's
  bool incoming = false;  // no document yet, or "job-incoming": more to come
};

class CupsJobBook {
 public:
  bool Begun() const { return begun; }
  // Starts watching from now: jobs in the queue are counted and listed,
  // none that ended up to here (the highest id CUPS gave one) is told.
  void Begin(const std::vector<CupsJob>& active, uint32_t highestEnded);

  // The lowest job id that may still end untold; a Get-Jobs for completed
  // jobs starts there (job ids rise across all queues of a server).
  uint32_t Floor() const { return floor; }
  // Whether some job of the last fetch is missing from these active ones.
  bool LostSight(const std::vector<CupsJob>& active) const;

  // Takes in one fetch: the jobs in the queue now and, where `askedEnded`,
  // the ones ended at or above Floor(), asked after those. A job that was
  // in the queue and is in neither left without a record (history off,
  // purged, moved): it ends with the pages last seen. Returns how many jobs
  // ended that no fetch had seen in the queue.
  int Take(const std::vector<CupsJob>& active, bool askedEnded, const std::vector<CupsJob>& ended);

  // The queue's page counter.
  uint32_t Total() const;
  bool Empty() const { return active.empty(); }
  // The jobs of the last fetch, in CUPS's order, with the pages counted.
  std::vector<SpoolJob> Active() const;
  // Every ended job learnt after `seq` (0: all that are kept); *last gets
  // the newest seq.
  void EndedAfter(uint64_t seq, std::vector<SpoolJob>* jobs, uint64_t* last) const;
  uint64_t LastSeq() const { return seq; }
  // No watcher needs the ended jobs up to `seq` any more.
  void ForgetEndedUpTo(uint64_t seq);

 private:
  struct Counted {
    std::string uuid;
    uint32_t pages = 0;  // the highest count seen
    bool ended = false;
    uint32_t told = 0;       // the pages the last telling of its end gave
    bool toldFinal = false;  // from CUPS's job history, not from sight lost
  };
  Counted& Count(const CupsJob& job);
  void Retire(uint32_t id, const Counted& counted);
  void Told(const CupsJob& job, Counted& entry, bool final);

  bool begun = false;
  uint32_t floor = 1;
  uint32_t highest = 0;
  std::vector<CupsJob> active;           // as last fetched
  std::map<uint32_t, Counted> counted;   // jobs at or above the floor, and those in the queue
  int64_t forgotten = 0;                 // the pages of jobs no longer in `counted`
  std::map<std::string, uint32_t> gone;  // the latest of those, by uuid
  std::deque<std::string> goneOrder;
  std::deque<std::pair<uint64_t, SpoolJob>> ended;
  uint64_t seq = 0;
};

}  // namespace pelko
