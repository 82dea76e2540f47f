// The local calendar time of a moment, on both platforms.
#pragma once

#include <ctime>

namespace pelko::mail {

inline std::tm LocalCalendarTime(std::time_t when) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  return local;
}

}  // namespace pelko::mail
