#include "web/login_gate.h"

#include <algorithm>

namespace orn {

void LoginGate::Prune(int64_t nowMs) {
  while (!window_.empty() && nowMs - window_.front().at >= kWindowMs) window_.pop_front();
}

LoginGate::Verdict LoginGate::Admit(bool suspect, int64_t nowMs) {
  Prune(nowMs);
  if (running_ >= kMaxAtOnce) return Verdict::kBusy;
  const auto suspects = std::count_if(window_.begin(), window_.end(), [](const Try& t) { return t.suspect; });
  if (static_cast<int>(window_.size()) >= kPerMinute || (suspect && suspects >= kSuspectPerMinute))
    return Verdict::kTooMany;
  window_.push_back({nowMs, suspect});
  ++running_;
  return Verdict::kGo;
}

int64_t LoginGate::RetryAfterMs(int64_t nowMs) const {
  if (window_.empty()) return 0;
  return std::max<int64_t>(0, window_.front().at + kWindowMs - nowMs);
}

}  // namespace orn
