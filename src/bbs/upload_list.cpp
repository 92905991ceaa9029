#include "bbs/upload_list.h"

#include <cstring>

#include "platform/text.h"

namespace orn {

bool InUploadList(const char* list, const std::string& name) {
  const std::string all = list;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\r', start);
    if (end == std::string::npos) end = all.size();
    if (EqualNoCase(all.substr(start, end - start), name)) return true;
    start = end + 1;
  }
  return false;
}

void AddToUploadList(char* list, size_t size, const std::string& name) {
  const size_t used = strnlen(list, size);
  if (name.empty() || used + name.size() + 1 >= size) return;
  std::memcpy(list + used, name.data(), name.size());
  list[used + name.size()] = '\r';
  list[used + name.size() + 1] = '\0';
}

}  // namespace orn
