#include "web/web_peers.h"

#include <arpa/inet.h>

#include <algorithm>
#include <vector>

namespace orn {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

std::vector<std::string> Items(const std::string& list, const char* seps) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t end = list.find_first_of(seps, pos);
    if (end == std::string::npos) end = list.size();
    const std::string item = Trim(list.substr(pos, end - pos));
    if (!item.empty()) out.push_back(item);
    pos = end + 1;
  }
  return out;
}

bool IsAddress(const std::string& s) {
  unsigned char buf[16];
  return inet_pton(AF_INET, s.c_str(), buf) == 1 || inet_pton(AF_INET6, s.c_str(), buf) == 1;
}

// The host of "name", "name:port", "[v6]" or "[v6]:port", lower case;
// empty for what is none of these.
std::string HostPart(const std::string& authority) {
  std::string h = authority;
  if (!h.empty() && h[0] == '[') {
    const size_t close = h.find(']');
    if (close == std::string::npos) return {};
    const std::string rest = h.substr(close + 1);
    if (!rest.empty() && (rest[0] != ':' || rest.find_first_not_of("0123456789", 1) != std::string::npos)) return {};
    return Lower(h.substr(1, close - 1));
  }
  const size_t colon = h.find(':');
  if (colon != std::string::npos) {
    if (h.find(':', colon + 1) != std::string::npos) return {};
    if (h.find_first_not_of("0123456789", colon + 1) != std::string::npos) return {};
    h = h.substr(0, colon);
  }
  return Lower(h);
}

}  // namespace

WebPeers MakeWebPeers(const std::string& listenHost, const std::string& proxies, const std::string& hosts) {
  WebPeers p;
  for (const std::string& a : Items(proxies, ", ")) p.proxies.insert(Lower(a));
  for (const std::string& h : Items(hosts, ", ")) p.hosts.insert(HostPart(h));
  for (const char* h : {"localhost", "127.0.0.1", "::1"}) p.hosts.insert(h);
  const std::string listen = Lower(listenHost);
  if (listen == "0.0.0.0" || listen == "::") {
    p.anyAddress = true;
  } else {
    p.hosts.insert(listen);
  }
  p.hosts.erase("");
  return p;
}

std::string ClientAddress(const WebPeers& peers, const std::string& peer, const std::string& forwardedFor) {
  if (!peers.proxies.count(peer) || forwardedFor.empty()) return peer;
  const std::vector<std::string> hops = Items(forwardedFor, ",");
  // The hops are added on the right: the rightmost one that is no proxy of
  // ours is the first anyone vouches for.
  for (auto it = hops.rbegin(); it != hops.rend(); ++it) {
    const std::string hop = Lower(*it);
    if (!IsAddress(hop)) return peer;
    if (!peers.proxies.count(hop)) return hop;
  }
  return peer;
}

bool HostAllowed(const WebPeers& peers, const std::string& host) {
  const std::string h = HostPart(Trim(host));
  if (h.empty()) return false;
  if (peers.hosts.count(h)) return true;
  return peers.anyAddress && IsAddress(h);
}

bool SameOrigin(const std::string& origin, const std::string& host) {
  if (origin.empty()) return true;
  std::string authority;
  for (const char* scheme : {"http://", "https://"})
    if (origin.rfind(scheme, 0) == 0) authority = origin.substr(std::string(scheme).size());
  if (authority.empty() || authority.find('/') != std::string::npos) return false;
  return Lower(authority) == Lower(Trim(host));
}

}  // namespace orn
