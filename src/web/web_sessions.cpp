#include "web/web_sessions.h"

#include <sodium.h>

#include <algorithm>

namespace orn {

std::string WebSessions::RandomToken(size_t bytes) {
  if (sodium_init() < 0) std::abort();  // no randomness: no sessions either
  std::string raw(bytes, '\0');
  randombytes_buf(raw.data(), raw.size());
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

namespace {

bool RunOut(const WebSessions::Session& s, int64_t nowMs) {
  return nowMs - s.lastUse > WebSessions::kIdleMs || nowMs - s.created > WebSessions::kMaxAgeMs;
}

}  // namespace

const WebSessions::Session& WebSessions::Create(int64_t nowMs, std::string* id, const std::string& stamp,
                                                const std::string& address) {
  for (auto it = sessions_.begin(); it != sessions_.end();)
    it = RunOut(it->second, nowMs) ? sessions_.erase(it) : std::next(it);
  if (sessions_.size() >= kMaxSessions) {
    auto oldest = std::min_element(sessions_.begin(), sessions_.end(),
                                   [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; });
    sessions_.erase(oldest);
  }
  *id = RandomToken(32);
  Session& s = sessions_[*id];
  s.csrf = RandomToken(32);
  s.created = s.lastUse = nowMs;
  s.stamp = stamp;
  s.address = address;
  return s;
}

const WebSessions::Session* WebSessions::Find(const std::string& id, int64_t nowMs) {
  if (id.empty()) return nullptr;
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return nullptr;
  if (RunOut(it->second, nowMs)) {
    sessions_.erase(it);
    return nullptr;
  }
  it->second.lastUse = nowMs;
  return &it->second;
}

void WebSessions::Remove(const std::string& id) { sessions_.erase(id); }

size_t WebSessions::Expire(int64_t nowMs, const std::string& stamp) {
  size_t ended = 0;
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (RunOut(it->second, nowMs) || it->second.stamp != stamp) {
      it = sessions_.erase(it);
      ++ended;
    } else {
      ++it;
    }
  }
  return ended;
}

std::set<std::string> WebSessions::Addresses() const {
  std::set<std::string> out;
  for (const auto& [id, s] : sessions_) out.insert(s.address);
  return out;
}

bool WebSessions::CsrfMatches(const Session& s, const std::string& header) {
  if (s.csrf.empty() || header.size() != s.csrf.size()) return false;
  return sodium_memcmp(s.csrf.data(), header.data(), header.size()) == 0;
}

std::string CookieValue(const std::string& header, const std::string& name) {
  size_t pos = 0;
  while (pos <= header.size()) {
    size_t end = header.find(';', pos);
    if (end == std::string::npos) end = header.size();
    std::string part = header.substr(pos, end - pos);
    const size_t first = part.find_first_not_of(' ');
    part = first == std::string::npos ? std::string() : part.substr(first);
    if (part.size() > name.size() && part.compare(0, name.size(), name) == 0 && part[name.size()] == '=') {
      std::string v = part.substr(name.size() + 1);
      while (!v.empty() && v.back() == ' ') v.pop_back();
      return v;
    }
    pos = end + 1;
  }
  return {};
}

}  // namespace orn
