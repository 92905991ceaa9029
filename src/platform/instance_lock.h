// One BBS per directory: a lock on a file in the working directory, held for
// the life of the process. The kernel drops it when the process dies, so a
// stale lock file never blocks a new start.
#pragma once

#include <string>

namespace orn {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // False when another process holds the lock on `path`.
  bool Acquire(const std::string& path);
  void Release();

 private:
  int fd_ = -1;
};

}  // namespace orn
