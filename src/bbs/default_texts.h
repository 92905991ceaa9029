// The language, help and information files that come with the program, so
// that a new BBS greets its first station in words. They are the files of
// data/ in the source tree, carried inside the program: "lang/..." files
// belong in the BBS directory, "help/..." files in the help directory. Like
// a sysop's own files they are in the ANSI code page with CR LF line ends.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace orn {

struct ShippedFile {
  const char* name;  // "lang/english.lng", "help/english.gen", ...
  const unsigned char* data;
  size_t size;
};

std::span<const ShippedFile> ShippedFiles();

// A BBS without "english.lng" has no texts at all: then every shipped file
// that the BBS does not have yet (matched without regard to case) is
// written. A file that exists is never touched, and a BBS that has its
// english.lng gets nothing. Returns the number of files written.
int InstallDefaultTexts(const std::string& bbsDir, const std::string& helpDir);

}  // namespace orn
