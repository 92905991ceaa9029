#include "store/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_names.h"

namespace orn {

bool RecordFile::Open(const std::string& path) {
  Close();
  fd_ = ::open(ResolveCase(path).c_str(), O_RDWR | O_CLOEXEC);
  pos_ = 0;
  return fd_ >= 0;
}

void RecordFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pos_ = 0;
}

bool RecordFile::Seek(int64_t offset) {
  if (fd_ < 0 || offset < 0) return false;
  pos_ = offset;
  return true;
}

size_t RecordFile::ReadAt(int64_t offset, char* buf, size_t n) const {
  if (fd_ < 0 || offset < 0) return 0;
  size_t done = 0;
  while (done < n) {
    ssize_t got = ::pread(fd_, buf + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

bool RecordFile::Read(char* buf, size_t n) {
  if (ReadAt(pos_, buf, n) != n) return false;
  pos_ += static_cast<int64_t>(n);
  return true;
}

bool RecordFile::Write(const char* buf, size_t n) {
  if (fd_ < 0) return false;
  size_t done = 0;
  while (done < n) {
    ssize_t put = ::pwrite(fd_, buf + done, n - done, static_cast<off_t>(pos_ + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  pos_ += static_cast<int64_t>(n);
  return true;
}

int64_t RecordFile::Size() const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

bool RecordFile::Truncate(int64_t size) {
  return fd_ >= 0 && size >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

}  // namespace orn
