// Ink meter service: how much of each ink each page of a job's document
// would take, so that a job's colour pages are counted, not guessed. On
// POSIX the document is fetched from CUPS and measured by Ghostscript's
// ink_cov device, run as an unprivileged user and bounded in time, memory
// and output. Windows keeps no measurable document: it has no meter.
//
// A measurement may take seconds: callers run it off any thread that
// enters jobs. Safe for concurrent use.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace pelko {

// One page's share of each ink, from 0 (none) to 1 (all the page).
struct PageInk {
  double cyan = 0, magenta = 0, yellow = 0, black = 0;
};

enum class InkStatus {
  kOk,
  kGone,         // the job or its document is no longer kept
  kTooLarge,     // the document is over the size measured
  kUnreadable,   // encrypted, damaged, or a format the meter cannot read
  kBound,        // the measuring ran out of time, memory or output, or a
                 // page was too large
  kUnavailable,  // the spooler did not answer: worth asking again later
  kUnsupported,  // this platform or spooler keeps no measurable document,
                 // or will not give it to the agent
};

class InkMeter {
 public:
  virtual ~InkMeter() = default;
  // The ink of each page of job `jobId`'s document in the named queue, in
  // page order; empty on anything but kOk. Once `cancelled` is set the
  // measure ends soon, as kBound, and leaves nothing running.
  virtual InkStatus Measure(const std::string& queue, uint32_t jobId, std::vector<PageInk>* pages,
                            const std::atomic<bool>& cancelled) = 0;
  InkStatus Measure(const std::string& queue, uint32_t jobId, std::vector<PageInk>* pages) {
    const std::atomic<bool> never{false};
    return Measure(queue, jobId, pages, never);
  }
};

// None where the platform keeps no document to measure (Windows).
InkMeter* PlatformInkMeter();

}  // namespace pelko
