#include "context/area_path.h"

#include "platform/file_names.h"

namespace orn {

std::string AreaPath(const std::string& area, const std::string& rel) {
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
  if (clean.empty()) return {};
  return JoinPath(area, clean);
}

std::string BareName(const std::string& rel) {
  const size_t cut = rel.find_last_of("/\\");
  return cut == std::string::npos ? rel : rel.substr(cut + 1);
}

}  // namespace orn
