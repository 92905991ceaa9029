// The BBS's only source of time: whole seconds since 1970 for dates (records,
// texts, the sysop's deadlines), milliseconds for what paces the link, and
// local calendar time. Tests use FakeClock; nothing else in the core reads the
// system clock.
#pragma once

#include <cstdint>
#include <ctime>

namespace orn {

class Clock {
 public:
  virtual ~Clock() = default;
  // Whole seconds since 1970.
  virtual int64_t Now() const = 0;
  // Milliseconds since 1970, on the same time line as Now(): a whole-second
  // deadline d has passed once NowMs() reaches 1000 * (d + 1).
  virtual int64_t NowMs() const = 0;
  // Local calendar time of a second count.
  virtual std::tm Local(int64_t t) const = 0;
  std::tm LocalNow() const { return Local(Now()); }
};

class SystemClock : public Clock {
 public:
  int64_t Now() const override;
  int64_t NowMs() const override;
  std::tm Local(int64_t t) const override;
};

// A clock that stands still until told otherwise. Its local time is UTC, so
// tests do not depend on the machine's time zone.
class FakeClock : public Clock {
 public:
  explicit FakeClock(int64_t now = 0) : nowMs_(now * 1000) {}
  int64_t Now() const override { return nowMs_ >= 0 ? nowMs_ / 1000 : -((-nowMs_ + 999) / 1000); }
  int64_t NowMs() const override { return nowMs_; }
  std::tm Local(int64_t t) const override;
  void Set(int64_t now) { nowMs_ = now * 1000; }
  void Advance(int64_t seconds) { nowMs_ += seconds * 1000; }
  void AdvanceMs(int64_t ms) { nowMs_ += ms; }
  // Sets the clock to a calendar time (month 1-12), read as UTC.
  void SetLocal(int year, int month, int day, int hour, int minute, int second = 0);

 private:
  int64_t nowMs_;
};

}  // namespace orn
