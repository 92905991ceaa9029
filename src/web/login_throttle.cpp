#include "web/login_throttle.h"

#include <algorithm>

namespace orn {

bool LoginThrottle::Suspect(const std::string& address, int64_t nowMs) const {
  auto it = entries_.find(address);
  return it != entries_.end() && it->second.failures > 0 && nowMs - it->second.last <= kForgetMs;
}

int64_t LoginThrottle::Failed(const std::string& address, int64_t nowMs) {
  if (entries_.size() >= kMaxAddresses && !entries_.count(address)) {
    for (auto it = entries_.begin(); it != entries_.end();)
      it = nowMs - it->second.last > kForgetMs ? entries_.erase(it) : std::next(it);
    // Guesses from thousands of addresses at once: the oldest is forgotten.
    if (entries_.size() >= kMaxAddresses)
      entries_.erase(std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return a.second.last < b.second.last;
      }));
  }
  Entry& e = entries_[address];
  if (e.failures && nowMs - e.last > kForgetMs) e.failures = 0;
  ++e.failures;
  e.last = nowMs;
  int64_t delay = kFirstDelayMs;
  for (int i = 1; i < e.failures && delay < kMaxDelayMs; ++i) delay *= 2;
  return std::min(delay, kMaxDelayMs);
}

int LoginThrottle::failures(const std::string& address) const {
  auto it = entries_.find(address);
  return it == entries_.end() ? 0 : it->second.failures;
}

}  // namespace orn
