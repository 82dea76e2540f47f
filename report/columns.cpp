#include "report/columns.h"

namespace pelko::report {

Job JobOfEntry(const LogEntry& entry) {
  Job job;
  job.told = entry.hasDetails;
  for (const JobColumn& column : kJobColumns) {
    if (column.entry == nullptr && (column.detail == nullptr || !entry.hasDetails)) continue;
    const std::string_view held =
        column.IsDetail() ? entry.details.*column.detail : entry.*column.entry;
    std::string value = entry.clean ? std::string(held) : CleanLogText(held);
    if (column.text != nullptr) {
      job.*column.text = std::move(value);
    } else {
      job.*column.figure = LeadingInt(value);
    }
  }
  return job;
}

}  // namespace pelko::report
