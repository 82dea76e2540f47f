// Ghostscript's measure of a document's ink, page by page: the one program
// of another's making the agent feeds a user's document, so it runs as an
// unprivileged account in a process group of its own, under -dSAFER, with
// limits on time, memory, files and output, and nothing of it outlives the
// call.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "agent/platform/ink_meter.h"

namespace pelko {

struct InkLimits {
  // Where a job's document is written to be measured: made 0700, root's.
  std::string folder = "/var/lib/pelko/ink";
  uint64_t maxDocumentBytes = 64ull << 20;  // over it: kTooLarge
  int fetchMs = 20000;                      // fetching one document from CUPS
  int measureMs = 60000;                    // Ghostscript, wall clock
  uint64_t addressSpaceBytes = 1ull << 30;
  std::size_t maxOutputBytes = 1 << 20;  // about 20,000 pages
  // The largest side of a page measured, in points: 200 inches (5 m).
  int maxPageSidePoints = 14400;
  // Who measures when the agent runs as root; never root itself.
  std::string account = "nobody";
};

// The CUPS ink meter with these limits (PlatformInkMeter has the defaults).
std::unique_ptr<InkMeter> NewCupsInkMeter(const InkLimits& limits);

// The account Ghostscript runs as: the agent's own user unless that is
// root, then limits' account. False where root has no such account, or
// it is root.
bool MeasuringAccount(const std::string& name, uid_t* uid, gid_t* gid);

// The ink of each page of the document (PostScript or PDF) open read-only
// at documentFd, which Ghostscript reads through /dev/fd/0: the file must
// be readable by the measuring account once open.
InkStatus MeasureInkCoverage(int documentFd, const InkLimits& limits, std::vector<PageInk>* pages,
                             const std::atomic<bool>& cancelled);

// ink_cov's lines ("28.20928 24.81382 24.78682 10.83652 CMYK OK", percent
// of the page) as PageInk; false on any other text, or none.
bool ParseInkCoverage(std::string_view output, std::vector<PageInk>* pages);

}  // namespace pelko
