#include "agent/purge/log_purge_thread.h"

#include <string_view>

#include "agent/config/settings.h"
#include "agent/files/file_finder.h"
#include "agent/logs/log_format.h"
#include "agent/logs/log_names.h"
#include "agent/util/civil_time.h"

namespace pelko {

namespace {

// The month lengths of the expiry table: every fourth year is a leap year.
int32_t TableMonthDays(int32_t year, int32_t month) {
  switch (month) {
    case 1:
    case 3:
    case 5:
    case 7:
    case 8:
    case 10:
    case 12:
      return 31;
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    case 2:
      return year % 4 == 0 ? 29 : 28;
    default:
      return 0;
  }
}

int32_t LeadingIntOf(const std::string& text, std::size_t from, std::size_t count) {
  if (from >= text.size()) return 0;
  return LeadingInt(std::string_view(text).substr(from, count));
}

// 32-bit arithmetic that wraps as the platform's would, without overflow.
int32_t Wrap(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// The retention is unsigned: a huge one keeps every file, and a negative
// count of days reaches none.
bool Reaches(int32_t elapsed, uint32_t days) {
  return elapsed >= 0 && static_cast<uint32_t>(elapsed) >= days;
}

bool ExpiredByTable(int32_t fy, int32_t fm, int32_t fd, int32_t ny, int32_t nm, int32_t nd,
                    int32_t dim, uint32_t days) {
  if (ny > fy) {
    if (nm >= fm) return true;
    if (Wrap(int64_t{nm} + 12 - fm) > 1) return true;
    if (nd >= fd) return true;
    return Reaches(Wrap(int64_t{dim} - fd + nd), days);
  }
  if (nm > fm) {
    if (nd >= fd) return true;
    return Reaches(Wrap(int64_t{dim} - fd + nd), days);
  }
  return Reaches(Wrap(int64_t{nd} - fd), days);
}

}  // namespace

bool IsLogExpired(const std::string& dateText, uint32_t days, const LocalTime& today) {
  const int32_t fy = LeadingIntOf(dateText, 0, 4);
  const int32_t fm = LeadingIntOf(dateText, 4, 2);
  const int32_t fd = LeadingIntOf(dateText, 6, 2);
  const int32_t ny = today.year, nm = today.month, nd = today.day;

  // The table counts at most one month boundary, so on its own it deletes
  // files younger than a long retention and keeps some long past it. Where
  // the date is a real one, not after today (a later year taken as this
  // one, as the table does), its true age decides.
  const int32_t year = fy > ny ? ny : fy;
  if (IsRealDate(year, fm, fd)) {
    const int64_t age = DaysFromCivil(ny, nm, nd) - DaysFromCivil(year, fm, fd);
    if (age >= 0) return age >= int64_t{days};
  }
  return ExpiredByTable(fy, fm, fd, ny, nm, nd, TableMonthDays(fy, fm), days);
}

void PurgeLogs(const Env& env, LogLocks& logLocks, const std::string& root, uint32_t days,
               const LocalTime& today) {
  FileFinder finder(*env.files);
  finder.VisitFiles(root, "*.xml", [&](Folder& folder, const FoundFile& file) {
    const std::string& p = file.path;
    if (p.find("xml") == std::string::npos) return;
    if (!IsLogExpired(DateFieldOfLogName(p), days, today)) return;
    // A file that cannot be deleted now is found again by the next cycle.
    auto lock = logLocks.Lock(p);
    folder.Delete(p.substr(p.rfind(env.files->Separator()) + 1));
  });
  // A log's details twin goes with it, and by the same date.
  finder.VisitFiles(root, "*.details", [&](Folder& folder, const FoundFile& file) {
    const std::string log = LogOfDetailsTwin(file.path);
    if (log.empty() || !IsLogExpired(DateFieldOfLogName(log), days, today)) return;
    auto lock = logLocks.Lock(log);
    folder.Delete(file.path.substr(file.path.rfind(env.files->Separator()) + 1));
  });
}

void LogPurgeThread::Run() {
  RegistryDwordValue deleteLogsDays(*env.registry, settings::kDeleteLogsDays);
  RegistryStringValue path(*env.registry, settings::kPath);
  bool said = false;
  for (;;) {
    // Without a retention nothing is old: a missing or mistyped value must
    // not read as 0, which would delete today's logs too.
    if (!deleteLogsDays.Loaded()) deleteLogsDays.Read();
    if (deleteLogsDays.Loaded() && deleteLogsDays.HeldType() == kRegDword) {
      PurgeLogs(env, logLocks, LogsFolder(path.Get(), env.files->Separator()),
                deleteLogsDays.Held(), env.clock->Now());
    } else if (!said) {
      said = true;
      SayTrouble(env, EventKind::kSettingInvalid, Severity::kWarning, "purge DeleteLogsDays",
                 "DeleteLogsDays is missing or not a REG_DWORD number: no old logs are deleted");
    }
    Pause(PurgePeriodMs);
  }
}

}  // namespace pelko
