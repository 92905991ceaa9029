// One open record file. Reads and writes go straight to the file at the
// handle's position, with no buffer of their own, so a completed write is
// seen at once by every other handle on the same file: channels and the
// sysop's windows each hold their own handles on users.adb and msg.adb.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orn {

class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile() { Close(); }
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Opens an existing file for reading and writing, without truncating it
  // ("r+b"). The name is matched without regard to case.
  bool Open(const std::string& path);
  void Close();
  bool is_open() const { return fd_ >= 0; }

  bool Seek(int64_t offset);
  // Exactly n bytes at the position, which then moves past them; false on a
  // short read (the end of the file) or a closed file.
  bool Read(char* buf, size_t n);
  // All n bytes at the position, or false.
  bool Write(const char* buf, size_t n);
  // Up to n bytes at an offset, without moving the position; the count read.
  size_t ReadAt(int64_t offset, char* buf, size_t n) const;
  // Size in bytes; 0 when closed.
  int64_t Size() const;
  // Cuts the file back to `size` bytes (what a failed append left).
  bool Truncate(int64_t size);

 private:
  int fd_ = -1;
  int64_t pos_ = 0;
};

}  // namespace orn
