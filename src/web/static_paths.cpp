#include "web/static_paths.h"

namespace orn {
namespace {

bool EndsWith(const std::string& s, const char* tail) {
  const std::string t(tail);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

}  // namespace

bool StaticName(const std::string& rawPath, std::string* name) {
  if (rawPath.empty() || rawPath[0] != '/' || rawPath.size() > 200) return false;
  if (rawPath == "/") {
    *name = "index.html";
    return true;
  }
  const std::string rest = rawPath.substr(1);
  for (char c : rest) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_' || c == '/';
    if (!ok) return false;
  }
  if (rest.find("..") != std::string::npos || rest.find("//") != std::string::npos || rest[0] == '.' || rest[0] == '/' ||
      rest.find("/.") != std::string::npos || rest.back() == '/')
    return false;
  *name = rest;
  return true;
}

bool StaticIsPublic(const std::string& name) { return name == "login.html" || !EndsWith(name, ".html"); }

std::string StaticType(const std::string& name) {
  static const struct {
    const char* ext;
    const char* type;
  } kTypes[] = {{".html", "text/html; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
                {".js", "text/javascript; charset=utf-8"}, {".json", "application/json"},
                {".svg", "image/svg+xml"}, {".png", "image/png"}, {".ico", "image/x-icon"},
                {".woff2", "font/woff2"}, {".txt", "text/plain; charset=utf-8"}};
  for (const auto& t : kTypes)
    if (EndsWith(name, t.ext)) return t.type;
  return "application/octet-stream";
}

}  // namespace orn
