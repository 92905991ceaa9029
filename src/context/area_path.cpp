#include "context/area_path.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "platform/file_names.h"

namespace orn {
namespace {

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

}  // namespace

// A symbolic link inside the area may point anywhere: what `path` really
// names (its deepest part that exists, links followed) must be the area or
// lie below it.
bool StaysInside(const std::string& area, const std::string& path) {
  const std::string root = RealPath(area);
  if (root.empty()) return true;  // no area, nothing to lead out through
  std::string p = ResolveCase(path);
  struct stat st;
  while (lstat(p.c_str(), &st) != 0) {
    const size_t cut = p.find_last_of('/');
    if (cut == std::string::npos || cut == 0) return false;
    p.erase(cut);
  }
  const std::string real = RealPath(p);
  return !real.empty() && (real == root || real.compare(0, root.size() + 1, root + "/") == 0);
}

std::string AreaRelative(const std::string& rel) {
  if (rel.empty() || rel[0] == '/' || rel[0] == '\\') return {};
  for (unsigned char c : rel)
    if (c < 0x20 || c == 0x7F) return {};
  std::string clean;
  size_t start = 0;
  while (start <= rel.size()) {
    size_t end = rel.find_first_of("/\\", start);
    if (end == std::string::npos) end = rel.size();
    const std::string part = rel.substr(start, end - start);
    if (part == "..") return {};
    if (!part.empty() && part != ".") {
      if (!clean.empty()) clean += '/';
      clean += part;
    }
    start = end + 1;
  }
  return clean;
}

std::string AreaPath(const std::string& area, const std::string& rel) {
  const std::string clean = AreaRelative(rel);
  if (clean.empty()) return {};
  const std::string path = JoinPath(area, clean);
  return StaysInside(area, path) ? path : std::string();
}

std::string BareName(const std::string& rel) {
  const size_t cut = rel.find_last_of("/\\");
  return cut == std::string::npos ? rel : rel.substr(cut + 1);
}

}  // namespace orn
