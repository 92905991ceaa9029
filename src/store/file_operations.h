// File handling shared by the operations that run over several exchanges
// (message entry, listing and reading, text transfers, forwarding, YAPP):
// up to three open files and a position for each, which the owner uses for
// piecewise reading and writing. The owner opens and closes its files.
#pragma once

#include <cstdio>
#include <string>

namespace orn {

// A line from readln holds at most this many characters, its line end
// included; the buffer needs one more for the terminator.
constexpr int kReadlnMax = 85;

class TFileOperations {
 public:
  TFileOperations() = default;
  TFileOperations(const TFileOperations&) = delete;
  TFileOperations& operator=(const TFileOperations&) = delete;

  // Names are matched without regard to case.
  static bool fileexist(const std::string& name);
  static void filedelete(const std::string& name);
  // Copies source over dest when source exists; dest is replaced whole or
  // not at all.
  static bool filecopy(const std::string& source, const std::string& dest);
  // Closes a handle that is open and clears it.
  static void closefile(FILE*& file);
  // Owners close their files themselves; kept for them to call.
  void closeallopen() {}

  // Reads the next line: characters up to and including the next LF or CR,
  // at most kReadlnMax of them, into `line` (kReadlnMax + 1 bytes). The line
  // end is stored as CR; CR LF counts as one line end, so files written with
  // CR LF read back as the lines that were written. A longer line arrives in
  // pieces. Returns false only when the end of the file came before any
  // character: an unterminated last line is still returned.
  static bool readln(FILE* file, char* line);
  // `count` bytes at 1-based byte position `pos`; true only when the file is
  // open and exactly `count` bytes were read.
  static bool readfromfile(long pos, long count, FILE* file, char* buffer);
  // `count` bytes at the file's current position (`pos` is not used); true
  // when they were all written.
  static bool writetofile(long pos, long count, FILE* file, const char* buffer);

  FILE* infile = nullptr;
  FILE* outfile = nullptr;
  FILE* sparefile = nullptr;
  long ipos = 0, opos = 0, spos = 0;
};

}  // namespace orn
