// A login costs a password hash, a good part of a second of a core. The
// gate bounds how many hashes run at once and how many logins begin each
// minute, so that a flood of logins from anywhere never slows the stations.
// Addresses that gave a wrong password lately share only part of the
// minute's budget; the rest stays for the others, so a guesser cannot use up
// every try the sysop has.
#pragma once

#include <cstdint>
#include <deque>

namespace orn {

class LoginGate {
 public:
  static constexpr int kMaxAtOnce = 4;
  static constexpr int kPerMinute = 60;
  static constexpr int kSuspectPerMinute = 40;
  static constexpr int64_t kWindowMs = 60 * 1000;

  enum class Verdict { kGo, kBusy, kTooMany };
  // kGo: the login may hash; the caller calls Done() when it has.
  Verdict Admit(bool suspect, int64_t nowMs);
  void Done() {
    if (running_ > 0) --running_;
  }
  // When a try refused for the minute's budget may come again.
  int64_t RetryAfterMs(int64_t nowMs) const;
  int running() const { return running_; }

 private:
  void Prune(int64_t nowMs);
  int running_ = 0;
  struct Try {
    int64_t at;
    bool suspect;
  };
  std::deque<Try> window_;
};

}  // namespace orn
