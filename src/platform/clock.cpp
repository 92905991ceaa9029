#include "platform/clock.h"

namespace orn {

int64_t SystemClock::Now() const { return static_cast<int64_t>(std::time(nullptr)); }

std::tm SystemClock::Local(int64_t t) const {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm out{};
  ::localtime_r(&tt, &out);
  return out;
}

std::tm FakeClock::Local(int64_t t) const {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm out{};
  ::gmtime_r(&tt, &out);
  return out;
}

void FakeClock::SetLocal(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  now_ = static_cast<int64_t>(::timegm(&tm));
}

}  // namespace orn
