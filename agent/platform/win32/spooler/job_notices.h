// The spooler's change notifications of a queue's jobs: what the spooler
// keeps per queue that someone listens to, and the job fields each
// notification brings.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <vector>

#include "agent/platform/clock.h"
#include "agent/platform/win32/spooler/job_journal.h"

namespace pelko {

// A queue someone wants to hear of: the spooler's own change notification
// on a printer handle kept for it, and the job fields it brought.
struct Notified {
  HANDLE printer = nullptr;
  HANDLE change = INVALID_HANDLE_VALUE;
  bool fields = false;   // the notification carries job fields
  bool opening = false;  // an add is opening them, without the lock
  std::vector<Signal*> signals;
  uint64_t changes = 0;  // notifications seen
  // Cleared when a look finds jobs that no notification announced (a
  // remote spooler that cannot call back); set again by a notification.
  bool trusted = true;
  // The last complete look: no jobs to watch, at what tick, after how many
  // changes.
  bool emptyAtLook = false;
  ULONGLONG lookedAt = 0;
  uint64_t changesAtLook = 0;
  // Without job fields: the jobs of the watcher's last own listing.
  std::map<uint32_t, SpoolerJobNote> polled;
};

// Lists its jobs in the watcher instead of the notifications telling them.
bool NeedsPolling(const Notified& notified);

// A notification of job changes on the open printer, with the job fields
// where the spooler gives them (*fields says which); INVALID_HANDLE_VALUE
// when it gives none.
HANDLE OpenJobNotice(HANDLE printer, bool* fields);

// FindNextPrinterChangeNotification, and the job fields it brought. When
// the spooler had to discard some, it is asked for every job's fields
// afresh. False when the notification cannot be rearmed.
bool TakeNews(HANDLE change, bool fields, std::vector<SpoolerJobNote>* news);

// Closes a notification from OpenJobNotice; INVALID_HANDLE_VALUE is none.
void CloseJobNotice(HANDLE change);

// Closes the queue's notification, which then tells nothing more. Under
// the lock that guards notified.
void Forget(Notified& notified);

}  // namespace pelko
