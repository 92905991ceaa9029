// The files a station uploaded in its session, each name ended by a CR: the
// station may erase those and no others. Names are compared whole (without
// regard to case, as the areas match them), never as parts of each other.
#pragma once

#include <cstddef>
#include <string>

namespace orn {

bool InUploadList(const char* list, const std::string& name);
// Adds `name` to `list` (a field of `size` bytes); a name that does not fit
// is not kept, so that file cannot be erased by the station.
void AddToUploadList(char* list, size_t size, const std::string& name);

}  // namespace orn
