#include "agent/monitor/pending_pages.h"

#include <cstdio>
#include <cstdlib>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"

namespace pelko {

namespace {

constexpr char kTag[] = "job";

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', from)) {
    fields.push_back(line.substr(from, tab - from));
    from = tab + 1;
  }
  fields.push_back(line.substr(from));
  return fields;
}

bool ReadStamp(const std::string& date, const std::string& time, LocalTime* stamp) {
  char end = 0;
  return std::sscanf(date.c_str(), "%4d/%2d/%2d%c", &stamp->year, &stamp->month, &stamp->day,
                     &end) == 3 &&
         std::sscanf(time.c_str(), "%2d:%2d:%2d%c", &stamp->hour, &stamp->minute, &stamp->second,
                     &end) == 3;
}

}  // namespace

std::string PendingPagesPath(const Env& env, const std::string& printerName) {
  RegistryStringValue path(*env.registry, settings::kPath);
  const char separator = env.files->Separator();
  return LogsFolder(path.Get(), separator) + separator +
         PrinterFileName(printerName, *env.files, "pending");
}

std::string EncodePendingPages(const std::vector<JobRecord>& jobs) {
  std::string text;
  for (const JobRecord& job : jobs) {
    for (const std::string& field :
         {std::string(kTag), std::to_string(job.jobId), std::to_string(job.pages),
          std::to_string(job.cost), FormatLogDate(job.stamp), FormatLogTime(job.stamp),
          CleanLogText(job.userName)}) {
      text += field;
      text += '\t';
    }
    text += CleanLogText(job.documentName);
    text += '\t';
    text += std::to_string(job.submittedAt);
    for (const std::string& field :
         {std::to_string(job.colorPages), std::to_string(job.monoPages), std::to_string(job.copies),
          CleanLogText(job.sides), CleanLogText(job.paper), CleanLogText(job.client),
          CleanLogText(job.colorFrom)}) {
      text += '\t';
      text += field;
    }
    text += '\n';
  }
  return text;
}

std::vector<JobRecord> DecodePendingPages(const std::string& text, const std::string& printerName) {
  std::vector<JobRecord> jobs;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) break;  // a line cut short
    const std::vector<std::string> f = SplitTabs(text.substr(from, end - from));
    from = end + 1;
    JobRecord job;
    // Eight fields as an earlier version wrote them, nine with submittedAt,
    // sixteen with the print details.
    if ((f.size() != 8 && f.size() != 9 && f.size() != 16) || f[0] != kTag ||
        !ReadStamp(f[4], f[5], &job.stamp)) {
      continue;
    }
    if (f.size() >= 9) job.submittedAt = std::strtoll(f[8].c_str(), nullptr, 10);
    if (f.size() == 16) {
      job.colorPages = LeadingInt(f[9]);
      job.monoPages = LeadingInt(f[10]);
      job.copies = static_cast<uint32_t>(LeadingInt(f[11]));
      job.sides = f[12];
      job.paper = f[13];
      job.client = f[14];
      job.colorFrom = f[15];
    }
    job.printerName = printerName;
    job.jobId = LeadingInt(f[1]);
    job.pages = LeadingInt(f[2]);
    job.cost = LeadingInt(f[3]);
    job.userName = f[6];
    job.documentName = f[7];
    jobs.push_back(std::move(job));
  }
  return jobs;
}

}  // namespace pelko
