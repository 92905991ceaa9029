// The console's logged-in browsers: a session id (the cookie) and its CSRF
// token, both random, forgotten after a time without use or at logout.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace orn {

class WebSessions {
 public:
  struct Session {
    std::string csrf;
    int64_t lastUse = 0;
  };
  // A session unused this long must log in again.
  static constexpr int64_t kIdleMs = 12LL * 3600 * 1000;
  // More than this: the oldest goes (a browser that logs in again and
  // again does not fill the memory).
  static constexpr size_t kMaxSessions = 32;

  // A new session; `id` gets its cookie value.
  const Session& Create(int64_t nowMs, std::string* id);
  // The session of a cookie value, or null; its use is recorded.
  const Session* Find(const std::string& id, int64_t nowMs);
  void Remove(const std::string& id);
  // The header's token against the session's, in constant time.
  static bool CsrfMatches(const Session& s, const std::string& header);

  // A hex string of `bytes` random bytes.
  static std::string RandomToken(size_t bytes);

 private:
  std::map<std::string, Session> sessions_;
};

// The value of cookie `name` in a Cookie header, or empty.
std::string CookieValue(const std::string& header, const std::string& name);

}  // namespace orn
