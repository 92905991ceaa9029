// File names matched without regard to case. Sysops bring directories from
// systems where "TEMP/3.1" and "temp/3.1" are one file; here they are not, so
// every open goes through ResolveCase, and new files keep the spelling asked for.
// A directory's listing is read once and kept while the directory's
// modification time stays the one seen; the files the BBS creates and removes
// through the functions below keep it current without reading it again.
#pragma once

#include <string>
#include <vector>

namespace orn {

// The existing path that matches `path` component by component, ignoring the
// case of letters; components that match nothing keep their given spelling.
// "\\" separators are accepted and turned into "/".
std::string ResolveCase(const std::string& path);

bool FileExists(const std::string& path);     // a regular file, any case
bool DirExists(const std::string& path);      // a directory, any case
std::string JoinPath(const std::string& dir, const std::string& name);

// Makes root/sub unless a directory of that name (any case) exists.
bool CreateDirIfDontExist(const std::string& root, const std::string& sub);
// Creates an empty file unless one of that name (any case) exists.
bool CreateFileIfDontExist(const std::string& name);
// Removes a file (any case); false when there was none to remove.
bool RemoveFile(const std::string& path);

// Writes a whole file through a temporary name in the same directory and a
// rename, so readers never see half of it. With `sync` the content reaches
// the disk before the rename, so that not even a power failure leaves half a
// file under the real name.
bool WriteFileReplacing(const std::string& path, const std::string& content, bool sync = false);
bool ReadWholeFile(const std::string& path, std::string* content);

// Names (not paths) of the entries of a directory, sorted.
std::vector<std::string> ListDir(const std::string& dir);

std::string CurrentDirectory();

}  // namespace orn
