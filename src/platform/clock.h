// The BBS's only source of time: whole seconds since 1970 and local calendar
// time. Tests use FakeClock; nothing else in the core reads the system clock.
#pragma once

#include <cstdint>
#include <ctime>

namespace orn {

class Clock {
 public:
  virtual ~Clock() = default;
  // Whole seconds since 1970.
  virtual int64_t Now() const = 0;
  // Local calendar time of a second count.
  virtual std::tm Local(int64_t t) const = 0;
  std::tm LocalNow() const { return Local(Now()); }
};

class SystemClock : public Clock {
 public:
  int64_t Now() const override;
  std::tm Local(int64_t t) const override;
};

// A clock that stands still until told otherwise. Its local time is UTC, so
// tests do not depend on the machine's time zone.
class FakeClock : public Clock {
 public:
  explicit FakeClock(int64_t now = 0) : now_(now) {}
  int64_t Now() const override { return now_; }
  std::tm Local(int64_t t) const override;
  void Set(int64_t now) { now_ = now; }
  void Advance(int64_t seconds) { now_ += seconds; }
  // Sets the clock to a calendar time (month 1-12), read as UTC.
  void SetLocal(int year, int month, int day, int hour, int minute, int second = 0);

 private:
  int64_t now_;
};

}  // namespace orn
