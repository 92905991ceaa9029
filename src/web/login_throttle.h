// Wrong console passwords cost time: each address's answer to a wrong
// password waits longer the more it has failed. Only the failures wait: the
// right password is let in at once, whatever came before it from that
// address. The host turns the delay into a timer; nothing here sleeps.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace orn {

class LoginThrottle {
 public:
  static constexpr int64_t kFirstDelayMs = 1000;
  static constexpr int64_t kMaxDelayMs = 30000;
  // Failures are forgotten this long after the last one.
  static constexpr int64_t kForgetMs = 15LL * 60 * 1000;
  static constexpr size_t kMaxAddresses = 4096;

  // A wrong password: how long its answer waits (doubling from the first,
  // up to the cap).
  int64_t Failed(const std::string& address, int64_t nowMs);
  // The address gave a wrong password lately.
  bool Suspect(const std::string& address, int64_t nowMs) const;
  void Succeeded(const std::string& address) { entries_.erase(address); }
  int failures(const std::string& address) const;

 private:
  struct Entry {
    int failures = 0;
    int64_t last = 0;
  };
  std::map<std::string, Entry> entries_;
};

}  // namespace orn
