#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace orn {
namespace {

// An open descriptor holding the lock, -1 when it is taken; -2 when the file
// cannot be opened at all.
int Take(const std::string& path, int how) {
  // The umask decides: in a directory shared with the sysops' group, their
  // ornctl must be able to open the lock too.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -2;
  if (::flock(fd, how | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool InstanceLock::BriefHeld(const std::string& briefPath) {
  const int fd = Take(briefPath, LOCK_EX);
  if (fd >= 0) ::close(fd);
  return fd == -1;
}

InstanceLock::~InstanceLock() { Release(); }

bool InstanceLock::Acquire(const std::string& path) {
  Release();
  const int fd = Take(path, LOCK_EX);
  if (fd == -2) return true;  // an unwritable directory is no second instance
  if (fd < 0) return false;
  fd_ = fd;
  return true;
}

bool InstanceLock::Acquire(const std::string& path, const std::string& briefPath, int waitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (!Acquire(path)) {
    if (!BriefHeld(briefPath) || std::chrono::steady_clock::now() >= end) return Acquire(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool InstanceLock::AcquireBrief(const std::string& path, const std::string& briefPath) {
  Release();
  // A starting BBS looks at the brief lock for a moment with an exclusive
  // lock of its own: try again past that.
  int brief = Take(briefPath, LOCK_SH);
  for (int i = 0; brief == -1 && i < 50; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    brief = Take(briefPath, LOCK_SH);
  }
  if (brief == -1) return false;
  if (!Acquire(path)) {
    if (brief >= 0) ::close(brief);
    return false;
  }
  briefFd_ = brief >= 0 ? brief : -1;
  return true;
}

void InstanceLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (briefFd_ >= 0) {
    ::close(briefFd_);
    briefFd_ = -1;
  }
}

}  // namespace orn
