// pelkoctl find: "where is my job?" answered from the spooler's history and
// the daily logs: the entry a job got, or why it got none.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "agent/platform/env.h"
#include "pelkoctl/health_check.h"
#include "pelkoctl/status.h"

namespace pelko::ctl {

struct JobQuery {
  std::optional<uint32_t> id;
  std::string user;   // the whole name, any case
  std::string title;  // a part of it, any case
};

struct JobEntry {
  std::string file;  // the daily log's path
  EntryLine entry;
};

struct FoundJob {
  std::string queue;  // the spooler's queue, or the printer its entry names
  uint32_t id = 0;
  std::string user, title;
  bool inSpooler = false;
  std::vector<JobEntry> entries;  // where it was entered
  std::string why;                // why not, where entries is empty
};

struct FindResult {
  std::vector<FoundJob> jobs;
  std::string none;  // why nothing was found, where jobs is empty
};

FindResult FindJobs(const Env& env, HostProbe* probe, const JobQuery& query);
// 0 something found, 1 nothing anywhere.
int PrintFound(const FindResult& result, const CostUnit& unit, std::ostream& out);

}  // namespace pelko::ctl
