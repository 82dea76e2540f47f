// What the Windows spooler tells of one queue's jobs, turned into listings
// that also tell the jobs that left: JobJournal keeps what the change
// notifications brought (so that a job that came and went between two
// listings is still known), and TellJobs makes one listing of a cursor
// from the spooler's job records and the journal. No Win32 in here.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "agent/platform/spooler.h"

namespace pelko {

// JOB_STATUS_* bits that matter here (the rest are kept as they come).
inline constexpr uint32_t kWinJobDeleting = 0x0004;
inline constexpr uint32_t kWinJobPrinting = 0x0010;
inline constexpr uint32_t kWinJobPrinted = 0x0080;
inline constexpr uint32_t kWinJobDeleted = 0x0100;

// One job as the spooler last told of it: from EnumJobs (every field) or
// from notifications (the fields they carried so far).
struct SpoolerJobNote {
  uint32_t id = 0;
  std::optional<std::string> user;
  std::optional<std::string> document;
  std::optional<uint32_t> status;
  std::optional<uint32_t> pages;  // PagesPrinted
  // Submitted, in seconds since 1970; 0 where not told (yet).
  int64_t submittedAt = 0;
  // How it asked to be printed (JOB_INFO_2), where it was asked.
  std::optional<JobDetails> details;

  bool operator==(const SpoolerJobNote&) const = default;
};

// Printed or deleted: done with, even while the spooler still lists it.
bool IsFinished(const SpoolerJobNote& record);

// Two jobs under one id, told apart by when the spooler took each (a
// spooler that numbers from 1 again after a restart); where either time is
// unknown they are taken for one.
inline bool OtherJob(int64_t submittedAt, int64_t otherSubmittedAt) {
  return submittedAt != 0 && otherSubmittedAt != 0 && submittedAt != otherSubmittedAt;
}

class JobJournal {
 public:
  static constexpr std::size_t kCapacity = 1024;

  // Merges what one notification told of a job and journals the result
  // under seq (increasing across every journal of the spooler). A job
  // submitted at another time than the one journaled under its id replaces
  // it: the earlier one's last news is then the cursors' last listing of it.
  void Learn(uint64_t seq, const SpoolerJobNote& news);
  // The latest record of every job journaled at `from` or later, and the
  // ids of those journaled before `until` (the listing's start: a job
  // journaled before it and not listed has left the queue).
  void Read(uint64_t from, uint64_t until, std::map<uint32_t, SpoolerJobNote>* records,
            std::vector<uint32_t>* before) const;
  // True once any job of the queue has told a page printed.
  bool CountsPages() const { return countsPages; }

 private:
  struct Entry {
    uint64_t seq;
    uint32_t id;
  };
  struct Known {
    SpoolerJobNote record;  // every notification of the job merged
    uint64_t lastSeq = 0;   // its latest entry
  };
  std::deque<Entry> entries;
  std::map<uint32_t, Known> known;  // jobs with an entry still kept
  bool countsPages = false;
};

// The details of a queue's listed jobs, each asked of the spooler once
// (GetJob at level 2 is a call to the spooler per job, with its DEVMODE:
// too dear for every look), by id and Submitted.
class DetailsBook {
 public:
  // Gives each record the details kept of its job, and says which jobs have
  // none kept; forgets the jobs no longer listed.
  std::vector<uint32_t> Fill(std::vector<SpoolerJobNote>* queued);
  void Keep(const SpoolerJobNote& job, const JobDetails& details);

 private:
  struct Kept {
    int64_t submittedAt = 0;
    JobDetails details;
  };
  std::map<uint32_t, Kept> kept;
};

// What one watcher of a queue keeps between its listings.
class Win32JobCursor : public JobCursor {
 public:
  explicit Win32JobCursor(uint64_t position) : position(position) {}

  struct Told {
    int64_t submittedAt = 0;
    uint64_t listing = 0;  // the last to see it
  };

  uint64_t position;                    // journal entries from here on are unread
  std::map<uint32_t, SpoolJob> listed;  // in the queue at the last listing
  std::map<uint32_t, Told> told;        // ended jobs told
  uint64_t listings = 0;
};

// One listing: `queued` is the spooler's job list, in its order; `news`
// and `before` what the journal gave since the cursor's position, the
// listing having started at journal position `until`. Pages are reported
// only where `countsPages`; a cursor's first listing tells no ended jobs.
// Moves the cursor on.
void TellJobs(const std::vector<SpoolerJobNote>& queued,
              const std::map<uint32_t, SpoolerJobNote>& news, const std::vector<uint32_t>& before,
              bool countsPages, uint64_t until, Win32JobCursor* cursor,
              std::vector<SpoolJob>* jobs);

}  // namespace pelko
