#include "bbs/prepare_dir.h"

#include <sys/stat.h>

#include <cstdio>

#include "context/area_path.h"
#include "platform/file_names.h"
#include "platform/text.h"

namespace orn {
namespace {

bool Matches(const std::string& name, const std::string& what) {
  if (what == "*.*" || what == "*") return true;
  if (what.rfind("*.", 0) != 0) return EqualNoCase(name, what);
  const std::string ext = what.substr(1);  // ".lng"
  return name.size() > ext.size() && EqualNoCase(name.substr(name.size() - ext.size()), ext);
}

// A station's path stays inside its area: no absolute paths, no "..".
bool InsideArea(const std::string& rel) {
  if (!rel.empty() && (rel[0] == '/' || rel[0] == '\\')) return false;
  size_t start = 0;
  while (start <= rel.size()) {
    size_t end = rel.find_first_of("/\\", start);
    if (end == std::string::npos) end = rel.size();
    if (rel.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

std::string Padded(const std::string& left, const std::string& right, size_t width, char fill) {
  const size_t used = left.size() + right.size();
  return left + std::string(used < width ? width - used : 0, fill) + right;
}

}  // namespace

std::string PrepareDir(const std::string& path, const std::string& area, const std::string& what, int typ,
                       const std::string& head, const std::string& none) {
  std::string dir = area;
  if (!path.empty() && path[0] != '\r') {
    const std::string rel = path.substr(0, path.size() - 1);
    if (!InsideArea(rel)) return none + "\r";
    dir = JoinPath(area, rel);
    if (!StaysInside(area, dir)) return none + "\r";
  }
  std::string out = typ == kListCompact ? path : head + "\r";
  const std::string before = out;
  dir = ResolveCase(dir);
  int count = 0;
  bool first = true;
  for (const std::string& entry : ListDir(dir)) {
    if (entry == "." || entry == ".." || !Matches(entry, what)) continue;
    // A link that leads out of the area shows nothing of what it leads to,
    // not even that it is there.
    struct stat link {};
    if (::lstat(JoinPath(dir, entry).c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
        !StaysInside(area, JoinPath(dir, entry)))
      continue;
    const std::string name = UpperAscii(entry);
    ++count;
    if (typ == kListCompact) {
      const std::string stem = name.substr(0, name.find('.'));
      out += std::string(stem.size() < 9 ? 9 - stem.size() : 0, ' ') + stem;
    } else {
      struct stat st {};
      const std::string full = JoinPath(dir, entry);
      if (::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        out += Padded(name, "Dir ", 21, '.');
      } else {
        out += Padded(name, std::to_string(static_cast<long long>(st.st_size)) + " ", 21, '.');
      }
    }
    if (!first && count >= 3) {
      out += '\r';
      count = 0;
    }
    first = false;
  }
  // Nothing matched: the full listing keeps its heading line above the notice.
  if (out == before) out = typ == kListCompact ? none : before + none;
  out += '\r';
  return out;
}

}  // namespace orn
