// The directory listings of the file areas and of the language files.
#pragma once

#include <string>

namespace orn {

constexpr int kListCompact = 3;  // names only, as the language list shows them
constexpr int kListFull = 4;     // names with sizes, three to a line

// Lists the entries of `area`, or of the subdirectory the station named in
// `path` (its text with the CR it was typed with, or a CR alone), that match
// `what` ("*.*" or "*.ext"). The listing starts with `head` (full mode) or
// with `path` itself (compact mode); `none` stands in when nothing matched.
// A path that leaves the area lists nothing.
std::string PrepareDir(const std::string& path, const std::string& area, const std::string& what, int typ,
                       const std::string& head, const std::string& none);

}  // namespace orn
