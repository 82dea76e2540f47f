// Each print queue's "Total Pages Printed" counter, read through PDH.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "agent/platform/spooler.h"

namespace pelko {

struct PageCounter;

// The queues' page counters, each opened at its first reading. Safe for
// concurrent use.
class PageCounters {
 public:
  PageCounters();
  PageCounters(const PageCounters&) = delete;
  PageCounters& operator=(const PageCounters&) = delete;
  ~PageCounters();

  SpoolStatus ReadPageTotal(const std::string& queue, uint32_t* total);

 private:
  std::mutex mutex;  // counters
  std::map<std::string, std::unique_ptr<PageCounter>> counters;
};

}  // namespace pelko
