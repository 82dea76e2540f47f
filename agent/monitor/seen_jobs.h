// Every job of a printer the agent has seen, by the job's identity: its id
// and the time the spooler took it, by the spooler's own clock, with the
// log entries that are its own. The daily logs are the bill, dated by the
// agent's clock and keyed by id alone, so neither a clock that is off or
// stepped nor a spooler that numbers from 1 again may decide from them
// which job an entry is: this book does. An entry is claimed, by the day of
// its log and its date and time, before it is first written, so a stop at
// any moment leaves no entry of the agent's that the book cannot place.
//
// It lies in the Path folder ("<printer>.seen"), not in Logs, which a site
// may let a group write: whoever may change it may already change what the
// agent runs as root. No book (a first start, an upgrade, a restored Path)
// falls back to what the logs say, once.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "agent/platform/env.h"
#include "agent/platform/spooler.h"

namespace pelko {

struct JobIdentity {
  uint32_t id = 0;
  int64_t submittedAt = 0;  // SpoolJob::submittedAt; 0 where not told
  auto operator<=>(const JobIdentity&) const = default;
};

inline JobIdentity IdentityOf(const SpoolJob& job) { return {job.id, job.submittedAt}; }

struct SeenJob {
  uint64_t seq = 0;  // when last seen or given a new entry, whatever the clocks say
  // In the spooler's history when the agent first watched the queue: never
  // the agent's to bill.
  bool beforeWatch = false;
  // Its entries: the day of the log ("20261206") and the entry's date and
  // time as the log writes them ("2026/12/05 23:59:58").
  std::map<std::string, std::string> entries;
};

class SeenJobs {
 public:
  // Jobs kept at most, those longest without a new entry forgotten first:
  // well over what the catch-up takes from the spooler.
  static constexpr std::size_t kMaxJobs = 5000;

  // Whether the book was found or begun: until then the logs decide.
  bool Known() const { return known; }
  void MarkKnown() {
    changes += known ? 0 : 1;
    known = true;
  }

  const SeenJob* Find(const JobIdentity& job) const;
  // False when the job was in the book already.
  bool Add(const JobIdentity& job, bool beforeWatch = false);
  // The job's entry in the log of that day: the stamp claimed before, or
  // `stamp`, claimed now. The job is added where it was not in the book.
  std::string Claim(const JobIdentity& job, const std::string& day, const std::string& stamp);
  // Whether some job under this id claims the entry of this stamp.
  bool IsClaimed(uint32_t id, const std::string& stamp) const;
  // Rises with every change: a book unchanged since it was saved is not
  // written out again at every pass.
  uint64_t Changes() const { return changes; }
  // When the book was begun ("2026/12/09 13:20:13", the agent's clock): the
  // agent's first look, which `pelkoctl list` shows. Empty in books of
  // earlier versions.
  const std::string& Since() const { return since; }
  void SetSince(const std::string& stamp) {
    changes += since == stamp ? 0 : 1;
    since = stamp;
  }

  // A head line, "since" and its stamp where known, then one line a job:
  // id, submittedAt, seq, "b" for one before the watch or "-", and its
  // entries as DAY=STAMP joined by ";".
  std::string Encode() const;
  // Lines that do not read whole are left out; no head: an unknown book.
  static SeenJobs Decode(const std::string& text);

 private:
  void Trim();

  std::map<JobIdentity, SeenJob> jobs;
  uint64_t nextSeq = 1;
  uint64_t changes = 0;
  bool known = false;
  std::string since;
};

// Empty where Path is not set.
std::string SeenJobsPath(const Env& env, const std::string& printerName);
// The printer's book; an unknown one where there is none or it cannot be
// read (a file that is not the agent's own is not taken in).
SeenJobs LoadSeenJobs(const Env& env, const std::string& printerName);

// When `pelkoctl add` configured a printer ("<printer>.since" in Path): the
// jobs the spooler had ended by then, which are not the printer's to bill,
// so that every job that ends later is, also one that ends before the
// agent first looks. By the spooler's identities, not a time: a clock that
// is off decides nothing. None where the printer was written by hand: the
// agent's first look decides, as the book's beginning.
struct WatchStart {
  std::string at;  // "2026/12/09 13:20:11", the configuring machine's clock: shown only
  std::set<JobIdentity> before;
};
std::string WatchStartPath(const Env& env, const std::string& printerName);
std::string EncodeWatchStart(const WatchStart& start);
// None where the text is not one.
std::optional<WatchStart> DecodeWatchStart(const std::string& text);
std::optional<WatchStart> LoadWatchStart(const Env& env, const std::string& printerName);

}  // namespace pelko
