// Files a station names inside one of the BBS's file areas.
#pragma once

#include <string>

namespace orn {

// The path of `rel` (the station's text, "\" or "/" between parts) below
// the area's directory, or empty when the text would lead out of the area:
// an absolute path, a ".." part, a control character in it, or a symbolic
// link inside the area that points outside it.
std::string AreaPath(const std::string& area, const std::string& rel);

// The text alone, before any file is looked at: `rel` with "/" between its
// parts and no "." parts, or empty for an absolute path, a ".." part or a
// control character. What a record names is checked so when it is written.
std::string AreaRelative(const std::string& rel);

// Whether `path`, a path below the area's directory, really stays in the
// area once the symbolic links on its way are followed.
bool StaysInside(const std::string& area, const std::string& path);

// The last part of a station's path text: what follows its last "\" or "/".
std::string BareName(const std::string& rel);

}  // namespace orn
