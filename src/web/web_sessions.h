// The console's logged-in browsers: a session id (the cookie) and its CSRF
// token, both random, forgotten after a time without use, after a week
// whatever their use, at logout, and when the password they logged in with
// is no longer the console's.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace orn {

class WebSessions {
 public:
  struct Session {
    std::string csrf;
    int64_t created = 0;
    int64_t lastUse = 0;
    std::string stamp;    // the password file as it was at the login
    std::string address;  // where the browser logged in from
  };
  // A session unused this long must log in again.
  static constexpr int64_t kIdleMs = 12LL * 3600 * 1000;
  // No session lasts longer than this.
  static constexpr int64_t kMaxAgeMs = 7LL * 24 * 3600 * 1000;
  // More than this: the oldest goes (a browser that logs in again and
  // again does not fill the memory).
  static constexpr size_t kMaxSessions = 32;

  // A new session; `id` gets its cookie value.
  const Session& Create(int64_t nowMs, std::string* id, const std::string& stamp = "",
                        const std::string& address = "");
  // The session of a cookie value, or null; its use is recorded.
  const Session* Find(const std::string& id, int64_t nowMs);
  void Remove(const std::string& id);
  bool Has(const std::string& id) const { return sessions_.count(id) != 0; }
  bool empty() const { return sessions_.empty(); }
  // Ends the sessions that have run out, or whose password stamp is not
  // `stamp`; how many ended.
  size_t Expire(int64_t nowMs, const std::string& stamp);
  // Where the sessions' browsers logged in from.
  std::set<std::string> Addresses() const;
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
