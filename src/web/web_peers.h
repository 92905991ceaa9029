// Who sent a request and whom it was meant for. Behind a reverse proxy the
// socket's address is the proxy's: the client is named by X-Forwarded-For,
// believed only from the proxies the sysop listed. A Host the console does
// not answer to is a page of another site that had its name pointed here
// (DNS rebinding); an Origin not the console's own is another site's page.
#pragma once

#include <set>
#include <string>

namespace orn {

struct WebPeers {
  std::set<std::string> proxies;  // addresses whose X-Forwarded-For is believed
  std::set<std::string> hosts;    // host names and addresses answered to, lower case
  bool anyAddress = false;        // listening on every address: any IP address as Host too
};

// The peers of a console listening on `listenHost`, with ORN.INI's [WEB]
// PROXIES and HOSTS (lists separated by commas or spaces).
WebPeers MakeWebPeers(const std::string& listenHost, const std::string& proxies, const std::string& hosts);

// The client: `peer`, or behind a listed proxy the last X-Forwarded-For hop
// that is no listed proxy.
std::string ClientAddress(const WebPeers& peers, const std::string& peer, const std::string& forwardedFor);

// The Host header names this console.
bool HostAllowed(const WebPeers& peers, const std::string& host);

// An Origin header (absent, or the scheme and authority of the page that
// sent the request) is this console's own page, reached as `host`.
bool SameOrigin(const std::string& origin, const std::string& host);

}  // namespace orn
