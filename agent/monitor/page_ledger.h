// Who printed which pages. The queue's page counter says how many pages the
// queue printed; the spooler says, where it can, how many each job printed.
// The ledger keeps what each known job has been credited and hands every
// rise of the counter to the jobs that printed it:
//   1. an ended job whose final count the spooler vouches for (CUPS's job
//      history) gets all of it at once: the counter, read at another moment
//      than the jobs, may show those pages earlier or later, and a job that
//      waited for it would be left at 0 when no later pass comes;
//   2. each other job whose own count rose since it was last credited gets
//      that rise, as far as the counter's pages not yet credited go;
//   3. where the spooler counts no pages per job, what is left goes to the
//      job last seen printing, and only where no job was seen printing to
//      the job whose pass read the counter. Where it does count per job,
//      what is left waits for the counts that will claim it (handed to the
//      last printing job, it was one job's lump and other jobs' zeros).
// So no page is credited twice and none is dropped: what is credited adds
// up to the counter's rise, once the counts have caught up.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "agent/platform/spooler.h"

namespace pelko {

// A job's share of one pass: the pages to add to its entry. A share of 0
// pages still gets an entry written: the pass's own job, as every pass does,
// and a job that ended before any pass saw it.
struct PageShare {
  uint32_t id = 0;
  std::string user;
  std::string document;
  uint32_t pages = 0;
};

class PageLedger {
 public:
  // Jobs known at most; beyond it the oldest that ended are forgotten.
  static constexpr std::size_t kMaxJobs = 4096;
  // Passes an ended job is kept while the counter has not caught up with
  // its own count; after that its owed pages are given up.
  static constexpr int kOwedPasses = 30;

  // Starts over: the jobs listed now printed what they have so far before
  // the counter's baseline, so none of it is theirs to claim. Where the
  // spooler gives final counts per job, a job's entry comes to its final
  // count at its end: it is credited only what its entries hold already
  // (`entered`, by id), and so gets what it printed while nobody watched.
  void Restart(const std::vector<SpoolJob>& listed,
               const std::map<uint32_t, uint32_t>& entered = {});
  // A job entered up to `pages` outside the ledger (an ended job caught up):
  // it is credited that, and told again, only what its count has beyond it.
  void Settle(uint32_t id, uint32_t pages);
  // Takes in a listing: new jobs, their states and counts, jobs that ended.
  // A known job that is neither listed nor told as ended has left the queue.
  void Learn(const std::vector<SpoolJob>& listed);
  // Hands out a rise of the counter in the pass of passJob (see above).
  // Returns every job with pages in this pass, the pass's job, and every
  // ended job that has not had an entry yet; each is then taken as entered.
  std::vector<PageShare> Share(uint32_t rise, const SpoolJob& passJob);
  // Whether a listed job still needs a pass of its own: one in the queue
  // does, as every job found does; one that ended only until an earlier
  // pass has entered it.
  bool NeedsPass(const SpoolJob& listed) const;
  // An ended job whose own count is ahead of what the counter has shown so
  // far: it needs a pass of its own where no job in the queue brings one.
  std::optional<SpoolJob> OwedEndedJob() const;

 private:
  struct Job {
    std::string user;
    std::string document;
    bool ended = false;
    bool entered = false;  // handed to the log at least once
    bool final = false;    // ended with the spooler's final count
    std::optional<uint32_t> printed;
    uint32_t credited = 0;  // pages counted from the job's own count
    // In the queue at the start with no count yet: its first count may
    // hold pages from before the baseline, so it is taken as credited.
    bool countFromBeforeStart = false;
    int passesSinceEnd = 0;
    uint64_t order = 0;       // when first seen, for the order of shares
    int64_t submittedAt = 0;  // SpoolJob::submittedAt, where told
  };

  Job& Note(const SpoolJob& listed);
  uint32_t Owed(const Job& job) const;
  void ForgetSettled();
  void Forget(std::map<uint32_t, Job>::iterator at);
  void KeepBounded();
  void RememberSettled(uint32_t id, uint32_t credited);

  std::map<uint32_t, Job> jobs;
  // The job last seen printing, with its names for a rise that comes after
  // it is gone (its pages are not used).
  std::optional<PageShare> lastPrinting;
  uint64_t seen = 0;
  // What jobs no longer kept were credited, where the spooler counts per
  // job (its ids are not given again): a job told again, its final count
  // come after it left our sight, is credited only the difference.
  std::map<uint32_t, uint32_t> settled;
  std::deque<uint32_t> settledOrder;
  // Counter pages no job has claimed yet; negative where ended jobs were
  // credited their final counts ahead of the counter.
  int64_t unclaimed = 0;
  bool countsPerJob = false;  // the spooler gives final counts per job
};

}  // namespace pelko
