#include "platform/clock.h"

#include <chrono>

namespace orn {

int64_t SystemClock::Now() const { return static_cast<int64_t>(std::time(nullptr)); }

int64_t SystemClock::NowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

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
  nowMs_ = static_cast<int64_t>(::timegm(&tm)) * 1000;
}

}  // namespace orn
