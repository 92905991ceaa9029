// What a browser, or anyone who reaches the console's port, may send before
// and after logging in: a request path, a cookie header and a JSON body.
// The path filter must pass only plain names inside the console's set; the
// JSON reader must end and read back what it writes; the mapping of a call
// to ornctl's words must end and keep the command's own words first (the
// control requests judge the values).
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/json.h"
#include "web/api_args.h"
#include "web/static_paths.h"
#include "web/web_peers.h"
#include "web/web_sessions.h"

namespace {

void CheckStaticName(const std::string& path) {
  std::string name;
  if (!orn::StaticName(path, &name)) return;
  if (name.empty() || name[0] == '/' || name[0] == '.' || name.find("..") != std::string::npos ||
      name.find("//") != std::string::npos || name.find('%') != std::string::npos ||
      name.find('\\') != std::string::npos || name.find('\0') != std::string::npos)
    std::abort();
}

void CheckJson(const std::string& text) {
  orn::Json doc;
  std::string why;
  if (!orn::ParseJson(text, &doc, &why)) return;
  const std::string written = doc.Write();
  orn::Json again;
  if (!orn::ParseJson(written, &again, &why) || again.Write() != written) std::abort();
  for (const std::vector<std::string>& parts : std::vector<std::vector<std::string>>{{"msg", "list"}, {"user", "set"}}) {
    orn::ApiCall call;
    if (!orn::MapApiCall(parts, {{"offset", "0"}}, doc, &call, &why)) continue;
    // The command's own words come first, as sent; the options are "--" and a name.
    if (call.args.size() < parts.size() || call.args[0] != parts[0] || call.args[1] != parts[1]) std::abort();
  }
}

// The cookie line stands for a Host or Origin header and an
// X-Forwarded-For: the client is the socket's peer or one of the listed
// hops, never anything else.
void CheckPeers(const std::string& host, const std::string& forwarded) {
  static const orn::WebPeers peers = orn::MakeWebPeers("127.0.0.1", "127.0.0.1", "bbs.example.org");
  orn::HostAllowed(peers, host);
  orn::SameOrigin(host, forwarded);
  const std::string client = orn::ClientAddress(peers, "127.0.0.1", forwarded);
  std::string lower = forwarded;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (client != "127.0.0.1" && lower.find(client) == std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  // Path, cookie header and body, split at the first two newlines.
  const size_t a = in.find('\n');
  const size_t b = a == std::string::npos ? std::string::npos : in.find('\n', a + 1);
  const std::string path = in.substr(0, a);
  const std::string cookie = a == std::string::npos ? std::string() : in.substr(a + 1, b - a - 1);
  const std::string body = b == std::string::npos ? in : in.substr(b + 1);
  CheckStaticName(path);
  orn::CookieValue(cookie, "ornweb");
  CheckPeers(path, cookie);
  CheckJson(body);
  return 0;
}
